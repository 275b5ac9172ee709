// The MSP430F5xx BSL target of vorlo-sim (msp430_bsl), driven over its pseudo-terminal.
#include <gtest/gtest.h>

#include <chrono>

#include "sim/sim_process.hpp"
#include "support/run_vorlo.hpp"

namespace {

std::vector<std::string> Bsl(std::vector<std::string> more = {}) {
    more.insert(more.begin(), "--protocol=msp430_bsl");
    return more;
}

Bytes Le(uint32_t address, int bytes = 3) {
    Bytes out;
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(address >> (8 * i)));
    return out;
}
// Address and length of CRC Check and TX Data Block.
Bytes Range(uint32_t address, uint16_t length) {
    Bytes out = Le(address);
    out.push_back(static_cast<uint8_t>(length));
    out.push_back(static_cast<uint8_t>(length >> 8));
    return out;
}
// RX Data Block's address and data.
Bytes At(uint32_t address, const Bytes& data) {
    Bytes out = Le(address);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}
std::string CrcAnswer(const Bytes& data) {
    uint16_t crc = ReferenceCrc16(data);
    return "00 3A " + HexText({static_cast<uint8_t>(crc), static_cast<uint8_t>(crc >> 8)});
}

struct Step {
    uint8_t command;
    Bytes data;
    std::string answer;
    bool response = true;
};

void RunSteps(SimProcess& sim, const std::vector<Step>& steps) {
    for (const Step& s : steps)
        EXPECT_EQ(BslCommand(sim, s.command, s.data, s.response), s.answer)
            << "command " << HexText({s.command}) << " " << HexText(s.data);
}

const Bytes kErased(32, 0xFF);
const std::string kVectors = "0044 0044 0044 0044 0044 0044 0044 0044 0044 0044 0044 0044 0044 0044 0044 0044";

}  // namespace

TEST(Msp430BslSim, PacketsAreCheckedAndALockedBslRefusesItsProtectedCommands) {
    SimProcess sim(Bsl({"--bsl-version=01020304"}), B9600);
    ASSERT_TRUE(sim.Ready());
    EXPECT_EQ(sim.Exchange({0x3F}, 2, 300), HexBytes("51"));  // the host's probe: no header
    Bytes badCrc = BslPacket(0x19);
    badCrc.back() ^= 0x01;
    const std::pair<Bytes, std::string> wrapped[] = {
        {badCrc, "52"}, {HexBytes("80 00 00"), "53"}, {HexBytes("80 05 01"), "54"},  // 261 > the 260-byte buffer
        {BslPacket(0x52, {0x07}), "56"},                                              // unknown rate code
        {BslPacket(0x14), "00 3B 07"},                                                // no such command
        {BslPacket(0x1A), "00 3A 04 01"},                                             // not protected
    };
    for (const auto& [packet, answer] : wrapped) {
        sim.Send(packet);
        EXPECT_EQ(BslAnswer(sim), answer) << HexText(packet);
    }
    RunSteps(sim, {{0x10, At(0x4400, {1}), "00 3B 04"}, {0x1B, At(0x4400, {1}), "00 3B 04"}, {0x12, Le(0x4400), "00 3B 04"},
              {0x13, {}, "00 3B 04"}, {0x16, Range(0x4400, 2), "00 3B 04"}, {0x17, Le(0x4400), "00 3B 04"},
              {0x18, Range(0xFFE0, 32), "00 3B 04"}, {0x19, {}, "00 3B 04"}});
    // Unlocked, it tells its version.
    RunSteps(sim, {{0x11, kErased, "00 3B 00"}, {0x19, {}, "00 3A 01 02 03 04"}});
}

TEST(Msp430BslSim, PasswordEraseWriteAndReadFollowTheMemoryMap) {
    std::string dir = MakeTempDir();
    SimProcess sim(Bsl({"--vectors=" + kVectors, "--stuck-bit=0x4500:2", "--exit-after-exec", "--log=" + dir + "/log",
                        "--dump=" + dir + "/out.hex"}),
                   B9600);
    ASSERT_TRUE(sim.Ready());
    Bytes vectors = HexBytes(kVectors);
    Bytes data = {0x31, 0x40, 0x00, 0x44, 0x3F, 0x40, 0x55, 0xAA};
    RunSteps(sim, {
                 {0x11, kErased, "00 3B 05"},   // wrong: the part is erased ...
                 {0x11, vectors, "00 3B 05"},   // ... so the old vectors are wrong now
                 {0x11, kErased, "00 3B 00"},
                 {0x18, Range(0xFFE0, 4), "00 3A FF FF FF FF"},
                 {0x10, At(0x4400, data), "00 3B 00"},
                 {0x16, Range(0x4400, 8), CrcAnswer(data)},
                 {0x18, Range(0x4400, 8), "00 3A " + HexText(data)},
                 {0x10, At(0x4400, {0xFF}), "00 3B 01"},  // a 0 bit cannot become 1 again
                 {0x10, At(0x43FE, {0x11, 0x22}), "00 3B 00"},
                 {0x10, At(0x43FE, {0x33}), "00 3B 00"},  // RAM: replaced
                 {0x18, Range(0x43FE, 2), "00 3A 33 22"},
                 {0x10, At(0x1000, {0x00}), "00 3B 01"},  // the BSL area
                 {0x10, At(0x0200, {0x00}), "00 3B 01"},  // not modelled: vacant
                 {0x18, Range(0x0200, 2), "00 3A FF 3F"},
                 {0x10, At(0x1980, {0x00}), "00 3B 01"},  // info A locked
                 {0x13, {}, "00 3B 00"},
                 {0x10, At(0x1980, {0x00}), "00 3B 00"},
                 {0x13, {}, "00 3B 00"},
                 {0x12, Le(0x19FF), "00 3B 00"},          // locked again: not erased
                 {0x10, At(0x187F, {0x12, 0x34}), "00 3B 00"},
                 {0x12, Le(0x18FF), "00 3B 00"},          // info C: 128 bytes
                 {0x18, Range(0x187F, 3), "00 3A 12 FF FF"},
                 {0x18, Range(0x1980, 1), "00 3A 00"},
                 {0x10, At(0x4600, {0x5A}), "00 3B 00"},
                 {0x12, Le(0x45FF), "00 3B 00"},          // main: 512 bytes
                 {0x18, Range(0x43FF, 3), "00 3A 22 FF FF"},
                 {0x18, Range(0x4600, 1), "00 3A 5A"},
                 {0x10, At(0x4500, {0x00}), "00 3B 00"},  // the stuck bit passes the write check ...
                 {0x16, Range(0x4500, 1), CrcAnswer({0x04})},  // ... but not the read-back
                 {0x15, {}, "00 3B 00"},                  // main flash only
                 {0x18, Range(0x4600, 1), "00 3A FF"},
                 {0x18, Range(0x187F, 1), "00 3A 12"},
                 {0x12, {0x00, 0x44}, "55"},              // no whole address
                 {0x1B, At(0x4400, {0x01, 0x02}), "00", false},
                 {0x16, Range(0x4400, 2), CrcAnswer({0x01, 0x02})},
                 {0x17, Le(0x4400), "00", false},
             });
    EXPECT_EQ(sim.WaitExit(3000), 0);
    std::string log = ReadFile(dir + "/log");
    EXPECT_TRUE(Contains(log, "msp430_bsl: load PC 04400 (main flash): user code starts")) << log;
    EXPECT_TRUE(Contains(log, "msp430_bsl: write check failed at 04400: FF written, 31 read (flash not erased)"));
    EXPECT_EQ(ReadFile(dir + "/out.hex"), ":01187F001256\r\n:011980000066\r\n:024400000102B7\r\n:00000001FF\r\n");
}

TEST(Msp430BslSim, BaudRateChangesAfterTheAcknowledgeAndAHostsOpenEntersTheBslAgain) {
    SimProcess sim(Bsl({"--line-model"}), B115200);
    ASSERT_TRUE(sim.Ready());
    EXPECT_EQ(sim.Exchange({0x3F}, 1, 300), Bytes{});  // the BSL starts at 9600 baud
    sim.SetBaud(B9600);
    EXPECT_EQ(BslCommand(sim, 0x52, {0x06}, false), "00");
    EXPECT_EQ(sim.Exchange(BslPacket(0x19), 1, 300), Bytes{});  // lost at the old rate
    sim.SetBaud(B115200);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(BslCommand(sim, 0x15), "00 3B 00");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(32));  // the erase time
    RunSteps(sim, {{0x11, kErased, "00 3B 00"}, {0x17, Le(0x4400), "00", false}});
    EXPECT_EQ(sim.Exchange(BslPacket(0x19), 1, 300), Bytes{});  // the user code runs
    sim.Reopen(B9600);
    EXPECT_EQ(BslCommand(sim, 0x18, Range(0x4400, 2)), "00 3B 04");  // locked again, at 9600
}

TEST(Msp430BslSim, FaultsRefuseOrCutTheAnswers) {
    SimProcess sim(Bsl({"--vectors=" + kVectors, "--fault=nak@0x11#1;nak@0x10#1;short@0x18#1;nak@0x52"}), B9600);
    ASSERT_TRUE(sim.Ready());
    uint16_t crc = ReferenceCrc16({0x3A, 0xFF});
    RunSteps(sim, {
                 {0x11, kErased, "00 3B 05"},  // refused: nothing erased, so the vectors still unlock
                 {0x11, HexBytes(kVectors), "00 3B 00"},
                 {0x10, At(0x4400, {0x00}), "00 3B 01"},  // refused: nothing written
                 {0x18, Range(0x4400, 1), "00 80 02 00 " + HexText({0x3A, 0xFF, static_cast<uint8_t>(crc)}) + " BROKEN"},
                 {0x10, At(0x4400, {0x00}), "00 3B 00"},
                 {0x18, Range(0x4400, 1), "00 3A 00"},
                 {0x52, {0x06}, "56", false},
                 {0x19, {}, "00 3A 00 05 04 34"},  // the rate stayed
             });
}

TEST(Msp430BslSim, OptionsOfOtherPartsAreRefused) {
    for (const char* bad : {"--vectors=FF", "--bsl-version=010203", "--stuck-bit=0x2400:1", "--ram=0x2400,8K"}) {
        RunResult r = RunProgram(VORLO_SIM_BIN, {"--protocol=msp430_bsl", bad});
        EXPECT_EQ(r.exitCode, 64) << bad << r.err;
    }
}
