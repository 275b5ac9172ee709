// Code started in a simulated LPC part's RAM runs on vorlo-sim's emulated CPU: its
// clocks, UART0, IAP calls, watchdog and resets, and what goes wrong in it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <functional>

#include "drivers/lpc/parts.hpp"
#include "drivers/lpc/ram_routines.hpp"
#include "sim/lpc_emu_programs.hpp"
#include "sim/sim_process.hpp"
#include "support/process.hpp"
#include "support/run_vorlo.hpp"
#include "support/sim_upload.hpp"

namespace {

const Bytes kSynchronized = HexBytes("53 79 6E 63 68 72 6F 6E 69 7A 65 64 0D 0A");

class LpcEmuSim : public ::testing::Test {
protected:
    void SetUp() override {
        if (!VORLO_SIM_EMULATION) GTEST_SKIP() << "vorlo-sim is built without the CPU emulator";
        dir_ = MakeTempDir();
    }

    // Starts the part, synchronises at 115200 baud with the crystal, unlocks and loads
    // each program; the caller sends the go.
    std::unique_ptr<SimProcess> Start(const std::string& part, const std::string& crystal,
                                      const std::vector<std::pair<uint32_t, Bytes>>& loads,
                                      std::vector<std::string> more = {}) {
        more.insert(more.begin(), {"--protocol=lpc_isp", "--part=" + part, "--log=" + Log(), "--dump-bin=" + Bin()});
        auto sim = std::make_unique<SimProcess>(more, B115200);
        EXPECT_TRUE(sim->Ready());
        EXPECT_EQ(sim->Exchange({'?'}, kSynchronized.size()), kSynchronized);
        EXPECT_EQ(IspCommand(*sim, "Synchronized"), "OK\r\n");
        EXPECT_EQ(IspCommand(*sim, crystal), "OK\r\n");
        EXPECT_EQ(IspCommand(*sim, "U 23130"), "0\r\n");
        for (const auto& [address, bytes] : loads) {
            std::string answer = IspWriteRam(*sim, address, bytes);  // "0", then "OK" per checksum
            EXPECT_EQ(answer.rfind("0 OK", 0), 0u) << answer;
            EXPECT_FALSE(Contains(answer, "RESEND")) << answer;
        }
        return sim;
    }

    std::string Log() const { return dir_ + "/log"; }
    std::string Bin() const { return dir_ + "/out.bin"; }

    std::string dir_;
};

// The flash image as --dump-bin writes it after the routine copied `data` to 0x1000.
Bytes FlashWith(const Bytes& data) {
    Bytes image(0x1000 + data.size(), 0xFF);
    std::copy(data.begin(), data.end(), image.begin() + 0x1000);
    return image;
}

}  // namespace

TEST_F(LpcEmuSim, Arm7RoutineSetsThePllAndUartAndProgramsTheFlashThroughTheIap) {
    Bytes data = Pattern(256, 9);
    auto sim = Start("LPC2134", "10000", {{0x40000200, lpc_emu::Arm7Routine()}, {0x40001000, data}});
    EXPECT_EQ(IspCommand(*sim, "G 1073742336 A"), "0\r\n");
    // 115741 baud, 0.5% off the host's 115200: they understand each other.
    EXPECT_EQ(sim->Exchange({'a'}, 1), Bytes{'a'});
    EXPECT_EQ(sim->Exchange({'E'}, 1), Bytes{0});  // CMD_SUCCESS from the IAP erase
    EXPECT_EQ(sim->Exchange({'C'}, 1), Bytes{0});  // and from the copy
    EXPECT_EQ(sim->Exchange({'z'}, 1), Bytes{'z'});
    EXPECT_EQ(sim->Stop(), 0);
    std::string bin = ReadFile(Bin());
    EXPECT_EQ(Bytes(bin.begin(), bin.end()), FlashWith(data));
    std::string log = ReadFile(Log());
    for (const char* note : {"go to 40000200: the code runs on the emulated ARM7, crystal 10000 kHz", "CCLK 50 MHz",
                             "UART0 at 115741 baud (PCLK 50000000 Hz, divisor 27)",
                             "IAP command 52 (1, 1, 50000): status 0",
                             "IAP command 51 (4096, 0x40001000, 256, 50000): status 0"})
        EXPECT_TRUE(Contains(log, note)) << note;
    EXPECT_FALSE(Contains(log, "violation")) << log;  // the routine follows the rules
}

TEST_F(LpcEmuSim, CortexM3RoutineRunsAtItsFractionalRateAndStartsTheUserCode) {
    Bytes data = Pattern(256, 4);
    auto sim = Start("LPC1768", "12000", {{0x10000200, lpc_emu::CortexM3Routine()}, {0x10001000, data}},
                     {"--exit-after-exec", "--line-model"});
    EXPECT_EQ(IspCommand(*sim, "G 268435968 T"), "0\r\n");
    usleep(100000);
    EXPECT_TRUE(sim->Exchange({'a'}, 1, 300).empty());  // the host still at 115200: lost
    sim->SetBaud(B921600);
    EXPECT_EQ(sim->Exchange({'b'}, 1), Bytes{'b'});
    // Bytes that come while the CPU sits in the IAP (a 100 ms erase) wait in the 16-byte
    // receive FIFO; the rest are lost.
    Bytes burst(41, 'z'), echo(17, 'z');
    burst[0] = 'E';
    echo[0] = 0;
    EXPECT_EQ(sim->Exchange(burst, 17), echo);
    EXPECT_EQ(sim->Exchange({'C'}, 1), Bytes{0});
    sim->Send({'X'});
    EXPECT_EQ(sim->WaitExit(3000), 0);  // --exit-after-exec: the user code started
    std::string bin = ReadFile(Bin());
    EXPECT_EQ(Bytes(bin.begin(), bin.end()), FlashWith(data));
    std::string log = ReadFile(Log());
    for (const char* note : {"the code runs on the emulated Cortex-M3, crystal 12000 kHz", "CCLK 48 MHz",
                             "UART0 at 923077 baud (PCLK 48000000 Hz, divisor 3, DivAddVal 1, MulVal 12)",
                             "IAP command 51 (4096, 0x10001000, 256, 48000): status 0",
                             "UART0 receive FIFO overrun: 24 byte(s) that arrived while the CPU was in the IAP are lost",
                             "the code jumps into the flash at 00001000: user code start, vector checksum invalid"})
        EXPECT_TRUE(Contains(log, note)) << note;
    EXPECT_FALSE(Contains(log, "violation")) << log;
}

TEST_F(LpcEmuSim, ResetsFaultsAndRunawaysAreReported) {
    Bytes slow = lpc_emu::Arm7Routine();
    slow[lpc_emu::kDivisorOffset] = 26;  // 120192 baud: 4.3% off the host's rate
    struct Case {
        const char* what;
        std::string part, crystal;
        std::pair<uint32_t, Bytes> load;
        std::string go;
        speed_t rate;     // the host's rate after the go
        Bytes send;       // then sent
        Bytes answer;     // and answered
        std::string note;  // in the wire log
        bool warned;       // the note on standard error too
    };
    const Case cases[] = {
        {"wrong divisor", "LPC2134", "10000", {0x40000200, slow}, "G 1073742336 A", B115200, {'a'}, {},
         "1 byte(s) sent at 115200 baud lost: the target listens at 120192 baud", false},
        {"runaway", "LPC2134", "10000", {0x40000200, lpc_emu::Arm7Routine()}, "G 1073742336 A", B115200, {'R'}, {},
         "the code runs away", true},
        {"unmapped", "LPC2134", "10000", {0x40000200, lpc_emu::Arm7Routine()}, "G 1073742336 A", B115200, {'U'}, {},
         "a read from unmapped memory at 40004000", true},
        {"watchdog", "LPC2148", "12000", {0x400002F0, lpc_emu::Arm7WatchdogReset()}, "G 1073742576 A", B115200, {'?'},
         kSynchronized, "watchdog reset (time-out): the part resets", false},
        {"system reset", "LPC1768", "12000", {0x10000200, lpc_emu::CortexM3Routine()}, "G 268435968 T", B921600,
         {'S'}, {}, "SYSRESETREQ: the part resets", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto sim = Start(c.part, c.crystal, {c.load});
        EXPECT_EQ(IspCommand(*sim, c.go), "0\r\n");
        usleep(100000);
        sim->SetBaud(c.rate);
        EXPECT_EQ(sim->Exchange(c.send, c.answer.size() + 1, c.answer.empty() ? 500 : 1000), c.answer);
        if (c.rate != B115200) {  // after the reset the boot ROM waits for '?' again
            sim->SetBaud(B115200);
            EXPECT_EQ(sim->Exchange({'?'}, kSynchronized.size()), kSynchronized);
        }
        for (int i = 0; i < 50 && !Contains(ReadFile(Log()), c.note); ++i) usleep(100000);
        EXPECT_EQ(sim->Stop(), 0);
        EXPECT_TRUE(Contains(ReadFile(Log()), c.note)) << ReadFile(Log());
        EXPECT_EQ(Contains(sim->ErrorOutput(), c.note), c.warned) << sim->ErrorOutput();
    }
}

// Vorlo's own Cortex-M3 routine, as the driver patches it for an LPC1768 at 921600 baud.
TEST_F(LpcEmuSim, TheShippedRoutineNaksABadFrameAndAWrongDivisorLosesTheHost) {
    const LpcPart& part = *LpcIdentify(0x26013F37);
    LpcRamRoutine routine;
    ASSERT_TRUE(LpcConfigureRamRoutine(part, 12000, 921600, routine));
    Bytes data = Pattern(512, 3);
    Bytes frame = WriteFrame(0x2000, data);
    Bytes bad = frame;
    bad.back() ^= 0x01;
    for (uint8_t divisor : {uint8_t{3}, uint8_t{4}}) {
        SCOPED_TRACE(divisor);
        Bytes image = routine.image;
        image[LPC_PARAM_DIVISOR] = divisor;  // 4: 692 kbaud, the host at 921600 is not understood
        auto sim = Start("LPC1768", "12000", {{routine.loadAddress, image}});
        EXPECT_EQ(IspCommand(*sim, "G 268436432 T"), "0\r\n");
        usleep(100000);
        sim->SetBaud(B921600);
        if (divisor == 4) {
            EXPECT_EQ(sim->Exchange({'C'}, 1, 500), Bytes{});
            continue;
        }
        EXPECT_EQ(sim->Exchange({'C'}, 1), Bytes{0x06});
        EXPECT_EQ(sim->Exchange({'E'}, 1, 3000), Bytes{0x06});
        EXPECT_EQ(sim->Exchange(bad, 1, 3000), Bytes{0x15});   // CRC wrong: NAK, nothing written
        EXPECT_EQ(sim->Exchange(frame, 1, 3000), Bytes{0x06});  // sent again: programmed
        EXPECT_EQ(sim->Stop(), 0);
        std::string bin = ReadFile(Bin());
        ASSERT_GE(bin.size(), 0x2000u + data.size());
        EXPECT_EQ(Bytes(bin.begin() + 0x2000, bin.begin() + 0x2000 + data.size()), data);
        EXPECT_FALSE(Contains(ReadFile(Log()), "violation"));
    }
}
