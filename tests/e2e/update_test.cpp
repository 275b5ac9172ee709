// UPDATE against simulated targets that already hold something: the image as WRITE would
// program it is compared sector by sector with the target's own CRC, and only the
// sectors that differ are erased and written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/sim_upload.hpp"

namespace {
std::vector<uint8_t> Changed(std::vector<uint8_t> bytes, size_t at) {
    bytes[at] ^= 0x5A;
    return bytes;
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& memory, size_t at, size_t n) {
    std::vector<uint8_t> padded = memory;
    padded.resize(std::max(padded.size(), at + n), 0xFF);
    return std::vector<uint8_t>(padded.begin() + at, padded.begin() + at + n);
}

struct UpdateCase {
    const char* name;
    bool changed;       // the image differs from what the part holds in one sector
    bool somethingElse; // the part holds other firmware
    const char* says;
};
const UpdateCase kCases[] = {
    {"unchanged", false, false, "\nUpdate: 7 of 7 sectors left as they were, 0 erased and written.\n"},
    {"one sector changed", true, false, "\nUpdate: 6 of 7 sectors left as they were, 1 erased and written.\n"},
    {"other firmware", false, true, "\nUpdate: 0 of 7 sectors left as they were, 7 erased and written.\n"},
};
}  // namespace

using Update = SimUpload;

// LPC1768 in fast mode: sectors 0-5 (4 KiB) and a part of sector 16 (32 KiB) in the
// image, sector 10 outside it holding data of its own, which no update touches.
TEST_F(Update, LpcFastModeRewritesOnlyTheSectorsThatDiffer) {
    if (!VORLO_SIM_EMULATION) GTEST_SKIP() << "vorlo-sim is built without the CPU emulator";
    constexpr size_t kEnd = 0x18000;
    const CodeRecords image = {{0x0, Pattern(0x6000, 1)}, {0x10000, Pattern(0x2000, 2)}};
    const std::vector<uint8_t> ownData = Pattern(0x1000, 9);  // sector 10
    auto asWritten = [&](const CodeRecords& records) { return WithLpcVectorChecksum(MemoryImage(records, kEnd), true); };
    for (const UpdateCase& c : kCases) {
        SCOPED_TRACE(c.name);
        CodeRecords held = c.somethingElse ? CodeRecords{{0x0, Pattern(kEnd, 7)}} : image;
        if (c.changed) held[0].second = Changed(held[0].second, 0x3010);
        std::vector<uint8_t> load = c.somethingElse ? MemoryImage(held, kEnd) : asWritten(held);
        std::copy(ownData.begin(), ownData.end(), load.begin() + 0xA000);
        SimTarget sim({"--protocol=lpc_isp", "--part=LPC1768", "--load=" + HexFile({{0, load}}, "held.hex")});
        RunResult r = Program(sim, "LPC2000_ISP,12000,921600", HexFile(image), {"--update"});
        ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_TRUE(Contains(r.out, c.says)) << r.out;
        sim.Stop();
        // The image's sectors as WRITE leaves them, the others as they were.
        std::vector<uint8_t> expected = load;
        const std::vector<uint8_t> written = asWritten(image);
        std::copy(written.begin(), written.begin() + 0x6000, expected.begin());
        std::copy(written.begin() + 0x10000, written.end(), expected.begin() + 0x10000);
        EXPECT_EQ(Slice(sim.Memory(), 0, kEnd), expected);
        const std::vector<std::string> erases = sim.NotesStartingWith("lpc_isp: emu: IAP command 52");
        if (c.somethingElse) continue;
        // Nothing changed: only the CRC requests, no erase, no copy. One sector changed:
        // that sector alone, and its four blocks.
        ASSERT_EQ(erases.size(), c.changed ? 1u : 0u);
        if (c.changed) {
            EXPECT_TRUE(Contains(erases[0], "(3, 3, ")) << erases[0];
        }
        EXPECT_EQ(sim.NotesStartingWith("lpc_isp: emu: IAP command 51").size(), c.changed ? 1u : 0u);
    }
}

// A routine that erases only everything (fast mode connected without --compress by an
// earlier command) cannot rewrite one sector: the update stops before it touches any.
TEST_F(Update, TheFullEraseRoutineRefusesBeforeTouchingTheFlash) {
    if (!VORLO_SIM_EMULATION) GTEST_SKIP() << "vorlo-sim is built without the CPU emulator";
    const CodeRecords held = {{0x0, WithLpcVectorChecksum(Pattern(0x1000, 1), true)}};
    SimTarget sim({"--protocol=lpc_isp", "--part=LPC1768", "--load=" + HexFile(held, "held.hex")});
    RunResult r = Program(sim, "LPC2000_ISP,12000,921600", HexFile({{0x0, Pattern(0x1000, 3)}}),
                          {"--deviceinfo", "--update"});
    EXPECT_EQ(r.exitCode, 70);
    EXPECT_TRUE(Contains(r.err, "gen_iap: The routine on the part erases only all sectors at once")) << r.err;
    sim.Stop();
    EXPECT_TRUE(sim.NotesStartingWith("lpc_isp: emu: IAP command 52").empty());
    EXPECT_EQ(Slice(sim.Memory(), 0, 0x1000), held[0].second);
}

// MSP430: 512-byte segments by the BSL's CRC Check. The BSL unlocks with the image's
// vectors; a part holding other firmware refuses them and erases itself, after which
// every segment is written.
TEST_F(Update, Msp430RewritesOnlyTheSegmentsThatDiffer) {
    constexpr size_t kBase = 0x1800;  // where the simulator's dump starts
    const CodeRecords image = {{0x4400, Pattern(3000, 6)}, {0xFFE0, Pattern(32, 4)}};
    for (const UpdateCase& c : kCases) {
        SCOPED_TRACE(c.name);
        CodeRecords held = c.somethingElse ? CodeRecords{{0x4400, Pattern(0xBC00, 8)}} : image;
        if (c.changed) held[0].second = Changed(held[0].second, 0x410);
        SimTarget sim({"--protocol=msp430_bsl", "--load=" + HexFile(held, "held.hex")});
        RunResult r = Program(sim, "MSP430BSL", HexFile(image), {"--update"});
        ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_TRUE(Contains(r.out, c.says)) << r.out;
        EXPECT_EQ(Contains(r.err + r.out, "The BSL refused the password and erased the part"), c.somethingElse);
        sim.Stop();
        const std::vector<uint8_t> memory = sim.Memory();
        EXPECT_EQ(Slice(memory, 0x4400 - kBase, 3000), image[0].second);
        EXPECT_EQ(Slice(memory, 0xFFE0 - kBase, 32), image[1].second);
        if (c.somethingElse) continue;
        const std::vector<std::string> erased = {"msp430_bsl: erase segment 04800-049FF"};
        EXPECT_EQ(sim.NotesStartingWith("msp430_bsl: erase segment"), c.changed ? erased : std::vector<std::string>{});
    }
}

// Drivers whose target computes no CRC end the run as READ does.
TEST_F(Update, DriversWithoutATargetCrcCannot) {
    struct Case {
        std::vector<std::string> sim;
        const char* driver;
        const char* says;
    };
    const Case cases[] = {
        {{"--protocol=gen_iap"}, "GEN_IAP", "ERROR: gen_iap: Function UPDATE not supported."},
        {{"--protocol=lpc_isp", "--part=LPC1768"}, "LPC2000_ISP,12000", "ERROR: Function UPDATE not supported."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.driver);
        SimTarget sim(c.sim);
        RunResult r = Program(sim, c.driver, HexFile({{0x0, Pattern(256, 1)}}), {"--update"});
        EXPECT_EQ(r.exitCode, 70);
        EXPECT_TRUE(Contains(r.err, c.says)) << r.err;
    }
}
