#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "base/messages.hpp"
#include "platform/serial_device.hpp"
#include "serial/serial_port.hpp"
#include "unit/serial_pty.hpp"

namespace {
using Clock = std::chrono::steady_clock;

long ElapsedMs(Clock::time_point since) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(pty.SlavePath().empty());
        ComOpen(pty.SlavePath().c_str());
    }
    void TearDown() override {
        MsgSetVerbose(false);
        ComClose();
    }
    PtyPair pty;
};

std::string PrmStr(uint32_t baud, int data, int parity, int stop) {
    char text[64] = "x";
    ComPrmStr(text, baud, data, parity, stop);
    return text;
}
}  // namespace

TEST(SerialKeywords, LookupUpperCasesAndMatchesWholeKeywords) {
    int value = -1;
    char parity[] = "n";
    EXPECT_TRUE(Str2Value(parity, &value, kComParity));
    EXPECT_EQ(value, 0);
    EXPECT_STREQ(parity, "N");
    char oneAndHalf[] = "1.5";
    EXPECT_TRUE(Str2Value(oneAndHalf, &value, kComStopBits));
    EXPECT_EQ(value, 1);
    char space[] = "S";  // space parity has no keyword
    value = 42;
    EXPECT_FALSE(Str2Value(space, &value, kComParity));
    EXPECT_EQ(value, 42);
    char nine[] = "9";
    EXPECT_FALSE(Str2Value(nine, &value, kComDataBits));
}

TEST(SerialKeywords, ParameterTextShowsTheRateADivisorGives) {
    EXPECT_EQ(PrmStr(9600, 8, 0, 0), "x 9600 8 N 1");
    EXPECT_EQ(PrmStr(7000, 7, 2, 2), "x 7200 7 E 2");
    EXPECT_EQ(PrmStr(100000, 8, 3, 1), "x 115200 8 M 1.5");
    EXPECT_EQ(PrmStr(230400, 8, 4, 0), "x 230400 8 ?? 1");
    EXPECT_EQ(PrmStr(0, 9, 1, 7), "x 0 ?? O ??");
}

TEST(SerialKeywords, PortNamesMapToDevicePaths) {
    EXPECT_EQ(serialdev::DevicePath("COM1"), "/dev/ttyS0");
    EXPECT_EQ(serialdev::DevicePath("com12"), "/dev/ttyS11");
    EXPECT_EQ(serialdev::DevicePath("ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(serialdev::DevicePath("/tmp/link/port"), "/tmp/link/port");
    EXPECT_EQ(serialdev::DevicePath("COM0"), "/dev/COM0");
    EXPECT_EQ(serialdev::DevicePath("COMX"), "/dev/COMX");
}

TEST_F(SerialPortTest, ParametersReachTheDeviceIncludingRatesWithoutAConstant) {
    struct Case {
        uint32_t baud;
        int data, parity, stop;
    };
    for (Case c : {Case{9600, 8, 0, 0}, Case{153600, 7, 2, 2}, Case{250000, 8, 1, 0}, Case{256000, 8, 0, 0},
                   Case{576000, 8, 0, 0}}) {
        ASSERT_TRUE(ComSetParams(c.baud, c.data, c.parity, c.stop));
        struct termios2 t = pty.Settings();
        EXPECT_EQ(t.c_ospeed, c.baud);
        EXPECT_EQ(t.c_ispeed, c.baud);
        // The pty driver forces 8 data bits without parity; only a UART keeps those.
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.stop != 0);
        EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
    }
    EXPECT_EQ(ComBaudRate(), 576000u);
}

TEST_F(SerialPortTest, WritesReachThePeerAndReadsEndAsSoonAsTheBytesAreThere) {
    ComSetParams(115200, 8, 0, 0);
    const uint8_t request[] = {'?', 0x00, 0xFF, 0x0D};
    ComWrite(request, sizeof request);
    EXPECT_EQ(pty.Receive(4), std::vector<uint8_t>(request, request + 4));

    pty.Send({1, 2, 3, 4, 5});
    uint8_t answer[5] = {};
    auto start = Clock::now();
    EXPECT_EQ(ComRead(answer, 5, 2000), 5u);
    EXPECT_LT(ElapsedMs(start), 200);
    EXPECT_EQ(answer[4], 5);
}

TEST_F(SerialPortTest, ShortReadsWaitTheTotalTimeout) {
    ComSetParams(9600, 8, 0, 0);
    pty.Send({0x06, 0x06});
    uint8_t buf[8];
    auto start = Clock::now();
    EXPECT_EQ(ComRead(buf, 8, 150), 2u);
    long elapsed = ElapsedMs(start);
    EXPECT_GE(elapsed, 140);
    EXPECT_LT(elapsed, 400);

    // Timeout 0 keeps the last non-zero timeout in force.
    start = Clock::now();
    EXPECT_EQ(ComRead(buf, 1, 0), 0u);
    EXPECT_GE(ElapsedMs(start), 140);
}

TEST_F(SerialPortTest, TimeoutZeroAfterOpenUsesTheOpenTimeRules) {
    uint8_t buf[100];
    // Nothing arrives: 10 ms per requested byte in total.
    auto start = Clock::now();
    EXPECT_EQ(ComRead(buf, 10, 0), 0u);
    long elapsed = ElapsedMs(start);
    EXPECT_GE(elapsed, 95);
    EXPECT_LT(elapsed, 300);
    // One byte of a hundred: the 15 ms gap after it ends the read, not the second total.
    pty.Send({0x51});
    start = Clock::now();
    EXPECT_EQ(ComRead(buf, 100, 0), 1u);
    EXPECT_LT(ElapsedMs(start), 300);
}

TEST_F(SerialPortTest, PurgeDiscardsWhatArrived) {
    ComSetParams(9600, 8, 0, 0);
    pty.Send({1, 2, 3});
    usleep(20000);
    EXPECT_EQ(ComInputWaiting(), 3u);
    ComPurge();
    uint8_t buf[3];
    EXPECT_EQ(ComRead(buf, 3, 50), 0u);
}

TEST_F(SerialPortTest, TracesShowCountsAndTheFirst32Bytes) {
    ComSetParams(9600, 8, 0, 0);
    MsgSetVerbose(true);
    std::vector<uint8_t> block(100, 0xA5);
    block[0] = 0x0f;
    testing::internal::CaptureStdout();
    ComWrite(block.data(), block.size());
    uint8_t buf[4];
    ComRead(buf, 4, 20);
    std::string out = testing::internal::GetCapturedStdout();
    std::string expectedTx = "\n    Tx[100]: { 0F";
    for (int i = 1; i < 32; ++i) expectedTx += " A5";
    expectedTx += "}";
    EXPECT_NE(out.find(expectedTx), std::string::npos) << out;
    EXPECT_NE(out.find("\n    Rx[0](4 bytes, 20ms): {}\n    Not requested number of bytes read from com."),
              std::string::npos)
        << out;
}

TEST_F(SerialPortTest, CloseRestoresTheSettingsTheDeviceHad) {
    ComClose();
    struct termios2 before = pty.Settings();
    ComOpen(pty.SlavePath().c_str());
    ComSetParams(250000, 7, 2, 2);
    ComClose();
    struct termios2 after = pty.Settings();
    EXPECT_EQ(after.c_ospeed, before.c_ospeed);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_FALSE(ComIsOpen());
    ComOpen(pty.SlavePath().c_str());  // TearDown closes again
}

TEST_F(SerialPortTest, TheOpenPortIsExclusiveAndModemLinesFailQuietlyOnAPty) {
    EXPECT_FALSE(serialdev::System().Probe(pty.SlavePath()));  // locked by ComOpen
    EXPECT_TRUE(ComProbe(pty.SlavePath().c_str()));    // but it is our own port
    EXPECT_FALSE(ComSetDtr(true));
    EXPECT_FALSE(ComSetRts(false));
    ComClose();
    EXPECT_TRUE(serialdev::System().Probe(pty.SlavePath()));
    ComOpen(pty.SlavePath().c_str());
}

TEST(SerialPortErrors, AnUnopenablePortEndsTheRun) {
    EXPECT_EXIT(ComOpen("/nonexistent/ttyX"), testing::ExitedWithCode(70), "Can't open /nonexistent/ttyX");
    EXPECT_FALSE(ComProbe("/nonexistent/ttyX"));
    EXPECT_FALSE(ComProbe("/dev/null"));  // not a terminal
}
