// The NXP LPC boot ROM target of vorlo-sim (lpc_isp), driven over its pseudo-terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <unistd.h>

#include "sim/sim_process.hpp"
#include "support/process.hpp"
#include "support/run_vorlo.hpp"
#include "support/sim_upload.hpp"

namespace {

std::vector<std::string> Lpc(const std::string& part, std::vector<std::string> more = {}) {
    more.insert(more.begin(), {"--protocol=lpc_isp", "--part=" + part});
    return more;
}

// The eight vector words of an image sum to 0, the boot ROM's mark of valid user code.
uint32_t VectorSum(const Bytes& image) {
    uint32_t sum = 0;
    for (size_t i = 0; i < 32; i += 4) sum += image[i] | (image[i + 1] << 8) | (image[i + 2] << 16) | (uint32_t(image[i + 3]) << 24);
    return sum;
}

// "0" and a read's lines: the data UU-encoded and its checksum.
std::string ReadAnswer(const Bytes& data) {
    uint32_t sum = 0;
    for (uint8_t b : data) sum += b;
    return "0\r\n" + UuLines(data)[0] + "\r\n" + std::to_string(sum) + "\r\n";
}

}  // namespace

TEST(LpcIspSim, AutobaudSynchronisesLocksTheRateAndEchoCanBeSwitchedOff) {
    SimProcess sim(Lpc("LPC2148"), B57600);
    ASSERT_TRUE(sim.Ready());
    EXPECT_TRUE(sim.Exchange({'x'}, 1, 200).empty());  // autobaud waits for '?' only
    EXPECT_EQ(sim.Exchange({'?'}, 14), HexBytes("53 79 6E 63 68 72 6F 6E 69 7A 65 64 0D 0A"));
    EXPECT_EQ(IspCommand(sim, "Synchronized"), "OK\r\n");
    EXPECT_EQ(IspCommand(sim, "12000"), "OK\r\n");
    EXPECT_EQ(IspCommand(sim, "J", 2), "0\r\n67305253\r\n");
    sim.SetBaud(B115200);  // the rate is locked now
    EXPECT_TRUE(sim.Exchange({'J', '\r', '\n'}, 1, 300).empty());
    sim.SetBaud(B57600);
    EXPECT_EQ(IspCommand(sim, "A 0"), "0\r\n");
    EXPECT_EQ(IspCommand(sim, "K", 3, false), "0\r\n12\r\n2\r\n");  // minor first, then major
    EXPECT_EQ(IspCommand(sim, "A 1", 1, false), "0\r\n");
    EXPECT_EQ(IspCommand(sim, "N"), "1\r\n");  // an LPC21xx boot ROM has no serial number to read
    EXPECT_EQ(IspCommand(sim, "X 1"), "1\r\n");
    EXPECT_EQ(IspCommand(sim, "P 0"), "12\r\n");
}

TEST(LpcIspSim, PartsAnswerTheirIdAndSectorsForEveryLayout) {
    struct Case {
        std::string part;
        uint32_t id;
        int lastSector;  // -1: no flash
        uint32_t flashEnd;
        std::string version;
    };
    const Case cases[] = {
        {"LPC2103", 0x0004FF11, 7, 32768, "12\r\n2\r\n"},        {"0xFFF0FF32", 0xFFF0FF32, 14, 122880, "12\r\n2\r\n"},
        {"LPC2129", 0x0201FF13, 16, 253952, "12\r\n2\r\n"},      {"lpc2148", 0x0402FF25, 26, 512000, "12\r\n2\r\n"},
        {"0x26012837", 0x26012837, 29, 524288, "1\r\n4\r\n"},    {"LPC1311", 0x2C42502B, 1, 8192, "1\r\n4\r\n"},
        {"LPC2210", 0x0301FF12, -1, 0, "12\r\n2\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.part);
        SimProcess sim(Lpc(c.part, {"--command-mode"}));
        ASSERT_TRUE(sim.Ready());
        EXPECT_EQ(IspCommand(sim, "J", 2), "0\r\n" + std::to_string(c.id) + "\r\n");
        EXPECT_EQ(IspCommand(sim, "K", 3), "0\r\n" + c.version);
        std::string last = std::to_string(c.lastSector);
        std::string past = std::to_string(c.lastSector + 1);
        EXPECT_EQ(IspCommand(sim, "P 0 " + past), "7\r\n");
        if (c.lastSector < 0) continue;
        EXPECT_EQ(IspCommand(sim, "P 0 " + last), "0\r\n");
        EXPECT_EQ(IspCommand(sim, "I " + last + " " + last), "0\r\n");
        EXPECT_EQ(IspCommand(sim, "R " + std::to_string(c.flashEnd - 4) + " 4", 3), ReadAnswer({0xFF, 0xFF, 0xFF, 0xFF}));
        IspCommand(sim, "OK", 0);
        EXPECT_EQ(IspCommand(sim, "R " + std::to_string(c.flashEnd) + " 4"), "14\r\n");
    }
}

TEST(LpcIspSim, WriteCopyCompareReadEraseAndGoFollowTheBootRomRules) {
    std::string dir = MakeTempDir();
    SimProcess sim(Lpc("LPC2148", {"--command-mode", "--baud=115200", "--fault=nak@C#7", "--stuck-bit=0x80:0",
                                   "--exit-after-exec", "--log=" + dir + "/log", "--dump-bin=" + dir + "/out.bin"}));
    ASSERT_TRUE(sim.Ready());
    Bytes data = Pattern(256, 7);
    data[0x80] = 0xFE;  // its bit 0 is the stuck one
    data[20] = data[21] = data[22] = data[23] = 0;
    uint32_t fix = 0u - VectorSum(data);
    std::memcpy(&data[20], &fix, 4);

    struct Step {
        std::string command;
        std::string answer;
        size_t lines = 1;
    };
    auto run = [&](const std::vector<Step>& steps) {
        for (const Step& s : steps) EXPECT_EQ(IspCommand(sim, s.command, s.lines), s.answer) << s.command;
    };
    run({{"C 0 1073742336 256", "15\r\n"}, {"U 1", "16\r\n"}, {"U 23130", "0\r\n"},
         {"W 1073742080 4", "14\r\n"},  // the boot ROM's own RAM
         {"W 1073742337 4", "13\r\n"}, {"W 1073742336 5", "6\r\n"}});
    // A checksum line that is no number is answered RESEND; its note is not cut short.
    std::string longLine(240, '9');
    std::string word = UuLines(Bytes(4, 0x11))[0];
    run({{"W 1073742336 4", "0\r\n"}, {word, "", 0}, {longLine, "RESEND\r\n"}, {word, "", 0}, {"68", "OK\r\n"}});
    EXPECT_EQ(IspWriteRam(sim, 0x40000200, data, true), "0 RESEND OK");
    run({{"C 0 1073742336 256", "9\r\n"}, {"P 0 1", "0\r\n"}, {"C 1 1073742336 256", "3\r\n"},
         {"C 0 1073742338 256", "2\r\n"}, {"C 0 1073742336 100", "6\r\n"}, {"C 524288 1073742336 256", "5\r\n"},
         {"C 0 1073742336 256", "9\r\n"},  // the nak fault: nothing copied
         {"C 0 1073742336 256", "0\r\n"}, {"C 256 1073742336 256", "9\r\n"},  // a copy locks again
         {"M 0 1073742336 256", "10\r\n0\r\n", 2},                         // the boot ROM's vectors
         {"M 64 1073742400 64", "0\r\n"}, {"M 64 1073742400 192", "10\r\n64\r\n", 2},  // the stuck bit
         {"R 64 8", ReadAnswer(Bytes(data.begin() + 64, data.begin() + 72)), 3}, {"OK", "", 0},
         {"R 0 4", ReadAnswer(HexBytes("18 F0 9F E5")), 3}, {"OK", "", 0}, {"R 0 4294967292", "14\r\n"},
         {"I 0 0", "8\r\n0\r\n3852464152\r\n", 3}, {"I 1 1", "0\r\n"}, {"E 0 0", "9\r\n"}, {"P 0 0", "0\r\n"}});
    auto start = std::chrono::steady_clock::now();
    run({{"E 0 0", "0\r\n"}});
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(390));  // LPC21xx: 400 ms
    run({{"M 64 1073742400 64", "10\r\n0\r\n", 2}, {"P 0 0", "0\r\n"}, {"C 0 1073742336 256", "0\r\n"},
         {"G 0 T", "0\r\n"}});
    EXPECT_EQ(sim.WaitExit(3000), 0);
    std::string bin = ReadFile(dir + "/out.bin");
    ASSERT_EQ(bin.size(), 256u);
    data[0x80] = 0xFF;
    EXPECT_EQ(Bytes(bin.begin(), bin.end()), data);
    std::string log = ReadFile(dir + "/log");
    EXPECT_TRUE(Contains(log, "lpc_isp: go to 00000000: user code start, vector checksum valid"));
    EXPECT_TRUE(Contains(log, "lpc_isp: checksum " + longLine + " for 4 bytes at 40000200: the data sum to 68, RESEND"));
}

TEST(LpcIspSim, CodeReadProtectionRefusesWhatTheLevelForbids) {
    struct Case {
        std::string crp;
        std::vector<std::pair<std::string, std::string>> steps;
    };
    const Case cases[] = {
        {"1",
         {{"R 0 4", "19"}, {"M 0 1073742336 4", "19"}, {"G 0 A", "19"}, {"W 1073742080 4", "19"},
          {"P 0 26", "0"}, {"C 0 1073742336 256", "19"}, {"E 0 0", "19"}, {"E 1 1", "0"}, {"I 0 0", "8\r\n0\r\n0"},
          {"P 0 26", "0"}, {"E 0 26", "0"}}},
        {"2",
         {{"W 1073742336 4", "19"}, {"P 0 26", "0"}, {"C 4096 1073742336 256", "19"}, {"E 1 1", "19"}, {"E 0 26", "0"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.crp);
        SimProcess sim(Lpc("LPC2148", {"--command-mode", "--crp=" + c.crp}));
        ASSERT_TRUE(sim.Ready());
        EXPECT_EQ(IspCommand(sim, "U 23130"), "0\r\n");
        for (const auto& [command, answer] : c.steps) {
            size_t lines = std::count(answer.begin(), answer.end(), '\n') + 1;
            EXPECT_EQ(IspCommand(sim, command, lines), answer + "\r\n") << command;
        }
    }
    SimProcess sim(Lpc("LPC2148", {"--crp=3"}));
    ASSERT_TRUE(sim.Ready());
    EXPECT_TRUE(sim.Exchange({'?'}, 1, 300).empty());
}

TEST(LpcIspSim, RamRoutineIsStartedAtItsDecodedRateAndSpeaksGenIap) {
    struct Case {
        std::string part;
        uint32_t load;
        uint32_t entry;
        Bytes settings;  // +8: block size, clock kHz, 0, last sector, divisor, 2/0, PLL, DivAddVal, MulVal
        std::string go;
        speed_t rate;
        std::string note;
    };
    const Case cases[] = {
        {"LPC1768", 0x10000200, 0x100003D1, HexBytes("0010 80BB 00 1D 03 00 23 01 0C"), "G 268436432 T", B921600,
         "RAM routine: UART 923077 baud, block 4096, last sector 29"},
        // No fractional divider: 10 MHz times the PLL setting plus 1 = 60 MHz, divisor 16.
        {"LPC2134", 0x40000200, 0x40000220, HexBytes("0010 1027 00 0A 10 02 05 00 00"), "G 1073742368 A", B230400,
         "RAM routine: UART 234375 baud, block 4096, last sector 10"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.part);
        std::string log = MakeTempDir() + "/log";
        SimProcess sim(Lpc(c.part, {"--command-mode", "--no-emulation", "--log=" + log}));
        ASSERT_TRUE(sim.Ready());
        Bytes image(64, 0);
        for (int i = 0; i < 4; ++i) {
            image[i] = static_cast<uint8_t>(c.load >> (8 * i));
            image[4 + i] = static_cast<uint8_t>(c.entry >> (8 * i));
        }
        std::copy(c.settings.begin(), c.settings.end(), image.begin() + 8);
        EXPECT_EQ(IspCommand(sim, "U 23130"), "0\r\n");
        EXPECT_EQ(IspWriteRam(sim, c.load, image), "0 OK");
        EXPECT_EQ(IspCommand(sim, c.go), "0\r\n");
        usleep(100000);
        sim.SetBaud(c.rate);
        EXPECT_EQ(sim.Exchange({'C'}, 1), HexBytes("06"));
        EXPECT_EQ(sim.Exchange({'I'}, 5), HexBytes("06 00 00 00 10"));
        EXPECT_EQ(sim.Exchange({'E'}, 1, 3000), HexBytes("06"));
        EXPECT_EQ(sim.Exchange(WriteFrame(0x2000, {1, 2, 3, 4}), 1), HexBytes("06"));
        EXPECT_EQ(sim.Stop(), 0);
        EXPECT_TRUE(Contains(ReadFile(log), c.note));
    }
}

TEST(LpcIspSim, CommandModeAnswersTheEscapeProbeAndTheWatchdogRoutineResets) {
    SimProcess sim(Lpc("LPC2148", {"--command-mode", "--no-emulation"}));
    ASSERT_TRUE(sim.Ready());
    EXPECT_EQ(sim.Exchange({'?'}, 2, 300), Bytes{'?'});  // just an echoed character
    std::string probe = "\x1bSynchronized\r";
    EXPECT_EQ(sim.Exchange(Bytes(probe.begin(), probe.end()), 17), HexBytes(HexText(Bytes(probe.begin(), probe.end())) + " 31 0D 0A"));
    EXPECT_EQ(IspCommand(sim, "U 23130"), "0\r\n");
    EXPECT_EQ(IspWriteRam(sim, 0x400002F0, Bytes(56, 0xE5)), "0 OK");
    EXPECT_EQ(IspCommand(sim, "G 1073742576 A"), "0\r\n");
    // The flash holds no valid code: after the reset the boot ROM is in autobaud again.
    EXPECT_EQ(sim.Exchange({'?'}, 14), HexBytes("53 79 6E 63 68 72 6F 6E 69 7A 65 64 0D 0A"));
}

TEST(LpcIspSim, Lpc21ispProgramsSimulatedParts) {
    if (access("/usr/bin/lpc21isp", X_OK) != 0) GTEST_SKIP() << "lpc21isp is not installed";
    // lpc21isp compares from flash offset 64 on every part; the Cortex-M boot ROM covers
    // 512 bytes, so its -verify fails there on the first sector, as it would on a chip.
    const std::pair<std::string, bool> cases[] = {{"LPC2148", true}, {"LPC1768", false}};
    for (const auto& [part, verify] : cases) {
        SCOPED_TRACE(part);
        std::string dir = MakeTempDir();
        Bytes image = Pattern(9000, 3);
        WriteFile(dir + "/app.hex", IntelHexText({{0, image}}));
        ChildProcess target(VORLO_SIM_BIN, Lpc(part, {"--timeout=60", "--dump-bin=" + dir + "/out.bin"}));
        std::string port = target.ReadLine(10000);
        ASSERT_FALSE(port.empty());
        std::vector<std::string> args = {"-wipe", "-donotstart", dir + "/app.hex", port, "115200", "12000"};
        if (verify) args.insert(args.begin(), "-verify");
        ChildProcess host("/usr/bin/lpc21isp", args);
        std::string out, err;
        ASSERT_TRUE(host.Collect(out, err, 60000));
        EXPECT_EQ(host.Wait(1000), 0) << out << err;
        EXPECT_EQ(target.Stop(), 0);
        std::string bin = ReadFile(dir + "/out.bin");
        ASSERT_GE(bin.size(), image.size());
        Bytes flash(bin.begin(), bin.begin() + image.size());
        EXPECT_EQ(VectorSum(flash), 0u);  // lpc21isp puts the checksum into a vector word
        size_t word = part == "LPC1768" ? 28 : 20;
        std::copy(flash.begin() + word, flash.begin() + word + 4, image.begin() + word);
        EXPECT_EQ(flash, image);
    }
}
