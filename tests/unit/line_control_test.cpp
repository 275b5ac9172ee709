#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "serial/line_control.hpp"
#include "serial/serial_port.hpp"
#include "unit/serial_pty.hpp"

namespace {
// Records every line change and wait, in order.
class RecordingLines : public LineHardware {
public:
    void SetDtr(bool on) override { log.push_back(std::string("DTR ") + (on ? "on" : "off")); }
    void SetRts(bool on) override { log.push_back(std::string("RTS ") + (on ? "on" : "off")); }
    uint8_t LatchSet(uint8_t latch, uint8_t mask) override {
        char text[32];
        snprintf(text, sizeof text, "LATCH %02X/%02X", latch, mask);
        log.push_back(text);
        return latch;
    }
    void Wait(uint32_t ms) override { log.push_back("WAIT " + std::to_string(ms)); }
    std::vector<std::string> log;
};

using Log = std::vector<std::string>;

class LineControlTest : public ::testing::Test {
protected:
    void SetUp() override { SetLineHardware(&lines); }
    void TearDown() override { SetLineHardware(nullptr); }
    RecordingLines lines;
};
}  // namespace

TEST_F(LineControlTest, GpioMasksAndLatchValuesFollowPinAndLevel) {
    ResetLineConfigure("cp2103gpio_2,0");
    ASSERT_TRUE(ResetGpioInstalled());
    ResetGpioSet(true);
    ResetGpioSet(false);
    PgmEnLineConfigure("CP2103GPIO_3 1");
    PgmEnGpioSet(true);
    PgmEnGpioSet(false);
    // The DTR/RTS setters leave GPIO lines alone.
    ResetLineSet(true);
    EXPECT_EQ(lines.log, (Log{"LATCH 00/04", "LATCH 04/04", "LATCH 08/08", "LATCH 00/08"}));
}

TEST_F(LineControlTest, EntrySequenceOnDtrAndRts) {
    ResetLineConfigure("DTR,0");
    PgmEnLineConfigure("rts,1");
    SetResetTimeMs(50);
    SetIspHoldTimeMs(100);
    EXPECT_FALSE(ResetGpioInstalled());
    LinesEnterBootloader();
    EXPECT_EQ(lines.log, (Log{"RTS on", "DTR off", "WAIT 50", "DTR on", "WAIT 100", "RTS off"}));

    lines.log.clear();
    SetIspHoldTimeMs(-1);  // programming-enable stays active until the close
    LinesEnterBootloader();
    LinesRelease();
    EXPECT_EQ(lines.log, (Log{"RTS on", "DTR off", "WAIT 50", "DTR on", "WAIT 10", "RTS off", "DTR on"}));
    SetIspHoldTimeMs(50);
}

TEST_F(LineControlTest, EntrySequenceOnGpioPinsAndMixedSelections) {
    ResetLineConfigure("CP2103GPIO_0,0");
    PgmEnLineConfigure("CP2103GPIO_1,0");
    SetResetTimeMs(20);
    SetIspHoldTimeMs(30);
    LinesEnterBootloader();
    EXPECT_EQ(lines.log, (Log{"LATCH 00/02", "LATCH 00/01", "WAIT 20", "LATCH 01/01", "WAIT 30", "LATCH 02/02"}));

    // One GPIO and one DTR line: neither sequence applies, the user resets by hand.
    lines.log.clear();
    PgmEnLineConfigure("DTR 1");
    EXPECT_FALSE(PgmEnGpioInstalled());  // a line moved to DTR no longer pulses its old pin
    LinesEnterBootloader();
    EXPECT_TRUE(lines.log.empty());

    // GEN_IAP drives only a DTR/RTS programming-enable line.
    PgmEnLineDtrRtsSet(true);
    PgmEnLineConfigure("CP2103GPIO_1,1");
    PgmEnLineDtrRtsSet(true);
    EXPECT_EQ(lines.log, (Log{"DTR on"}));
    SetResetTimeMs(50);
    SetIspHoldTimeMs(50);
}

TEST_F(LineControlTest, UnknownItemsStopTheParse) {
    ResetLineConfigure("RTS,1");
    ResetLineConfigure("RTS,x");  // the level stays what it was
    EXPECT_EQ(ResetLine().kind, LINE_RTS);
    EXPECT_TRUE(ResetLine().activeHigh);
    ResetLineConfigure("GPIO9,0");  // unknown line: kind 0, no setter
    EXPECT_EQ(ResetLine().kind, LINE_GPIO);
    EXPECT_FALSE(ResetGpioInstalled());
    ResetLineSet(true);
    EXPECT_TRUE(lines.log.empty());
}

TEST_F(LineControlTest, NegativeTimesDoNotWaitForever) {
    ResetLineConfigure("DTR,1");
    PgmEnLineConfigure("RTS,1");
    testing::internal::CaptureStdout();
    SetResetTimeMs(-5);
    SetIspHoldTimeMs(-2);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "\nWARNING: Very long ISP hold time. Are you nuts?");
    LinesEnterBootloader();
    EXPECT_EQ(lines.log, (Log{"RTS on", "DTR on", "WAIT 0", "DTR off", "WAIT 0", "RTS off"}));
    testing::internal::CaptureStdout();
    SetResetTimeMs(1001);
    SetIspHoldTimeMs(-1);
    SetIspHoldTimeMs(5000);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nWARNING: Very long reset time. Are you nuts?");
    EXPECT_EQ(ResetTimeMs(), 1001);
}

TEST(IspRequest, HexTextsBecomeBytes) {
    IspRequestParse("0a1b,06");
    const IspRequest& isp = IspRequestGet();
    ASSERT_EQ(isp.requestCount, 2);
    EXPECT_EQ(isp.request[0], 0x0A);
    EXPECT_EQ(isp.request[1], 0x1B);
    ASSERT_EQ(isp.responseCount, 1);
    EXPECT_EQ(isp.response[0], 0x06);

    IspRequestParse("123 4G");  // odd request: no bytes; a non-digit repeats the digit before it
    EXPECT_EQ(isp.requestCount, 0);
    ASSERT_EQ(isp.responseCount, 1);
    EXPECT_EQ(isp.response[0], 0x44);

    IspRequestParse("G1");  // nothing before the first digit: 0
    ASSERT_EQ(isp.requestCount, 1);
    EXPECT_EQ(isp.request[0], 0x01);
    EXPECT_EQ(isp.responseCount, 0);

    IspRequestParse(std::string(200, 'F').c_str());  // at most 63 bytes
    EXPECT_EQ(isp.requestCount, 63);
}

TEST(Cp210xLatch, WithoutAPortOrAGpiochipThePinsAreLeftAlone) {
    EXPECT_EQ(Cp210xLatchSet(0x04, 0x04), 0x04);  // no port open
    PtyPair pty;
    ComOpen(pty.SlavePath().c_str());
    testing::internal::CaptureStdout();
    EXPECT_EQ(Cp210xLatchSet(0x00, 0x01), 0x00);
    EXPECT_EQ(Cp210xLatchSet(0x02, 0x02), 0x02);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "Unable to load 'cp210x gpiochip of " + pty.SlavePath() + "'.");
    ComClose();
}
