// Programming a simulated MSP430F5xx through its ROM BSL.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/sim_upload.hpp"

namespace {
constexpr uint32_t kDumpBase = 0x1800;  // the simulator's binary dump starts at the info memory

// Code at 0x4400 and the reset vector pointing at it.
CodeRecords Firmware() { return {{0x4400, Pattern(3000, 6)}, {0xFFFE, {0x00, 0x44}}}; }

std::vector<uint8_t> Slice(const std::vector<uint8_t>& memory, uint32_t address, size_t n) {
    size_t at = address - kDumpBase;
    if (memory.size() < at + n) return {};
    return std::vector<uint8_t>(memory.begin() + at, memory.begin() + at + n);
}

std::vector<std::string> Sim(std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"--protocol=msp430_bsl"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}
}  // namespace

using Msp430Upload = SimUpload;

TEST_F(Msp430Upload, ErasesWritesVerifiesAndStartsAt9600And115200) {
    CodeRecords records = Firmware();
    std::string hex = HexFile(records);
    for (int baud : {9600, 115200}) {
        SimTarget sim(Sim({"--exit-after-exec"}));
        RunResult r = Program(sim, "MSP430BSL", hex, {"-d", "--erase", "--write", "--exec"}, baud);
        ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_EQ(sim.WaitExit(5000), 0);
        EXPECT_TRUE(Contains(r.out, "\n  BSL version: 00:05:04:34")) << r.out;
        std::vector<uint8_t> memory = sim.Memory();
        EXPECT_EQ(Slice(memory, 0x4400, 3000), records[0].second);
        EXPECT_EQ(Slice(memory, 0xFFFE, 2), records[1].second);
        EXPECT_EQ(sim.NotesStartingWith("msp430_bsl: load PC 04400").size(), 1u);
        // The rate goes up with exactly this packet: 80 02 00 52 06 and its CRC.
        std::vector<uint8_t> wire = sim.HostBytes();
        const std::vector<uint8_t> change = {0x80, 0x02, 0x00, 0x52, 0x06, 0x14, 0x15};
        EXPECT_EQ(std::search(wire.begin(), wire.end(), change.begin(), change.end()) != wire.end(), baud == 115200);
    }
}

TEST_F(Msp430Upload, SegmentEraseAndALockedBslGivenThePassword) {
    // The BSL starts locked: the first write is refused with "BSL Locked", the driver
    // sends the default password (the erased vectors) and writes again.
    CodeRecords records = {{0x4400, Pattern(200, 8)}};
    SimTarget sim(Sim());
    RunResult r = Program(sim, "MSP430BSL", HexFile(records), {"-d", "--erase=FE00", "--write"}, 115200);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "\n segment: 0xfe00 "));
    EXPECT_TRUE(Contains(r.out, "\n  BSL Locked\n  Entering default password")) << r.out;
    sim.Stop();
    EXPECT_EQ(Slice(sim.Memory(), 0x4400, 200), records[0].second);
}

TEST_F(Msp430Upload, FailuresEndTheRun) {
    struct Case {
        std::vector<std::string> sim;
        CodeRecords records;
        std::vector<std::string> commands;
        std::string err;
    };
    const Case cases[] = {
        // A bit that does not program: only the CRC read back shows it.
        {Sim({"--stuck-bit=0x4410:3"}), Firmware(), {"--write"}, "\nERROR: Programming failed."},
        {Sim({"--fault=short@0x16#1"}), Firmware(), {"--write"}, "\nERROR: Programming failed."},  // truncated CRC answer
        {Sim(), {{0x10000, Pattern(16, 1)}}, {"--write"}, "\nERROR: Blocked write to address >= 0x10000"},
        {Sim(), Firmware(), {"--erase=xyz"}, "\nERROR: Unknown erase option."},
        {Sim({"--fault=drop@header"}), Firmware(), {"--contout=1", "--write"}, "\nERROR: Failed to connect."},
    };
    for (const Case& c : cases) {
        SimTarget sim(c.sim);
        RunResult r = Program(sim, "MSP430BSL", HexFile(c.records), c.commands, 115200);
        EXPECT_EQ(r.exitCode, 70) << c.err << r.out;
        EXPECT_EQ(r.err, c.err) << r.out;
    }
}

// The probe goes out again until the BSL answers it: a part whose BSL missed the first
// probes (still starting) is found without the connect starting over.
TEST_F(Msp430Upload, AProbeThatGoesUnansweredIsSentAgain) {
    SimTarget sim(Sim({"--fault=drop@header#1-3"}));
    RunResult r = Program(sim, "MSP430BSL", HexFile(Firmware()), {"--erase", "--write"}, 115200);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(sim.NotesStartingWith("msp430_bsl: a host opened the terminal").size(), 1u);  // one entry sequence
    EXPECT_EQ(sim.NotesStartingWith("msp430_bsl: 3F is no packet header").size(), 4u);
}
