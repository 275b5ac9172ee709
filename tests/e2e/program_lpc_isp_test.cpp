// Programming simulated NXP LPC parts through their boot ROM, and in fast mode through
// the RAM routine the driver loads.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "drivers/lpc/parts.hpp"
#include "support/sim_upload.hpp"

namespace {
std::vector<std::string> Sim(const std::string& part, std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"--protocol=lpc_isp", "--part=" + part};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}
}  // namespace

using LpcIspUpload = SimUpload;

TEST_F(LpcIspUpload, ProgramsArm7AndCortexPartsAndStartsTheirCode) {
    struct Case {
        const char* part;
        bool cortex;
        const char* info;
        const char* erase;
    };
    const Case cases[] = {
        {"LPC2148", false, "\nLPC2148, 512 kiB ROM / 40 kiB SRAM\nBootcode version: 2.12", "\nErase sectors: 0-26 OK"},
        {"LPC1768", true, "\nLPC1768, 512 kiB ROM / 64 kiB SRAM\nBootcode version: 4.1", "\nErase sectors: 0-29 OK"},
    };
    for (const Case& c : cases) {
        CodeRecords records = {{0x0, Pattern(10000, 5)}};
        SimTarget sim(Sim(c.part, {"--exit-after-exec"}));
        RunResult r = Program(sim, "LPC2000_ISP,12000", HexFile(records), {"--erase", "--write", "--exec"});
        ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_EQ(sim.WaitExit(5000), 0);
        EXPECT_TRUE(Contains(r.out, c.info)) << r.out;
        EXPECT_TRUE(Contains(r.out, c.erase)) << r.out;
        EXPECT_EQ(sim.Memory(), WithLpcVectorChecksum(MemoryImage(records, 12288), c.cortex));
        // The vector block goes last, so that an interrupted write leaves no valid vectors.
        std::vector<std::string> copies = sim.NotesStartingWith("lpc_isp: copy");
        ASSERT_EQ(copies.size(), 3u);
        EXPECT_TRUE(Contains(copies.back(), "to flash 00000000"));
        EXPECT_EQ(sim.NotesStartingWith("lpc_isp: go to 00000000: user code start, vector checksum valid").size(), 1u);
    }
}

TEST_F(LpcIspUpload, EverySectorMapAndCopySize) {
    struct Case {
        const char* part;
        size_t copy;
    };
    // Maps A, B, D, E, F; copies of 4096, 8192 and 1024 bytes.
    for (Case c : {Case{"LPC2103", 4096}, Case{"LPC2106", 8192}, Case{"LPC2129", 8192}, Case{"LPC2388", 4096},
                   Case{"LPC1311", 1024}, Case{"0x0444502B", 1024}, Case{"LPC1769", 4096}}) {
        CodeRecords records = {{0x0, Pattern(3000, 9)}};
        SimTarget sim(Sim(c.part));
        RunResult r = Program(sim, "LPC2000_ISP,12000", HexFile(records), {"--erase", "--write"});
        ASSERT_EQ(r.exitCode, 0) << c.part << r.out << r.err;
        sim.Stop();
        size_t padded = (3000 + c.copy - 1) / c.copy * c.copy;
        bool cortex = c.part[3] == '1' || c.part[0] == '0';
        EXPECT_EQ(sim.Memory(), WithLpcVectorChecksum(MemoryImage(records, padded), cortex)) << c.part;
        EXPECT_TRUE(Contains(sim.NotesStartingWith("lpc_isp: copy").front(), "copy " + std::to_string(c.copy) + " bytes"));
    }
}

TEST_F(LpcIspUpload, SectorOptionsOfEraseAndWrite) {
    // LPC2148: sectors 0-7 of 4 KiB, 8-21 of 32 KiB; 0x10000 is sector 9.
    CodeRecords records = {{0x0, Pattern(8192, 1)}, {0x10000, Pattern(100, 2)}};
    SimTarget sim(Sim("LPC2148"));
    RunResult r = Program(sim, "LPC2000_ISP,12000", HexFile(records), {"--erase=3", "--erase=0-2,4-8", "--write=0-7"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "\nErase sector: 3 OK"));
    EXPECT_TRUE(Contains(r.out, "\nErase sectors: 0-2 OK\nErase sectors: 4-8 OK"));
    EXPECT_TRUE(Contains(r.out, "\nWARNING: Skipping block: 00010000-00010FFF\n")) << r.out;
    sim.Stop();
    EXPECT_EQ(sim.NotesStartingWith("lpc_isp: erase sectors"),
              (std::vector<std::string>{"lpc_isp: erase sectors 3 to 3", "lpc_isp: erase sectors 0 to 2",
                                        "lpc_isp: erase sectors 4 to 8"}));
    EXPECT_EQ(sim.Memory(), WithLpcVectorChecksum(MemoryImage({records[0]}, 8192), false));
}

TEST_F(LpcIspUpload, FailuresEndTheRunWithTheirOwnText) {
    struct Case {
        std::vector<std::string> sim;
        std::vector<std::string> commands;
        std::string err;
        std::string out;
    };
    const Case cases[] = {
        {Sim("LPC2148", {"--report-id=0x26013F38"}), {"--erase"}, "\nERROR: Unsupported device: ID=0x26013F38", ""},
        {Sim("LPC2148"), {"--erase=30"}, "\nERROR: Incorrect sectors given.", ""},
        {Sim("LPC2148"), {"--erase=x"}, "\nERROR: Unknown erase option.", ""},
        {Sim("LPC2148"), {"--write=abc"}, "\nERROR: Unknown write option.", ""},
        {Sim("LPC2148"), {"--exec=reboot"}, "\nERROR: Unknown exec option.", ""},
        {Sim("0x0301FF12"), {"--erase"}, "\nERROR: Incorrect sectors given.", ""},  // LPC2210: no flash
        {Sim("LPC2148", {"--silent"}), {"--write"}, "\nERROR: Failed to connect.", ""},
        // A RESEND after a checksum, a compare that finds a bit that did not program,
        // code read protection: the block fails.
        {Sim("LPC2148", {"--fault=nak@checksum#3"}), {"--write"}, "\nERROR: Programming failed.", ""},
        {Sim("LPC1768", {"--stuck-bit=0x1234:2"}), {"--write"}, "\nERROR: Programming failed.", ""},
        {Sim("LPC2148", {"--crp=2"}), {"--erase", "--write"}, "\nERROR: Programming failed.",
         "\nWARNING: ISP Return Code: Code Read Protection Enabled\nNOTE: Erase whole chip to clear protection."},
    };
    std::string hex = HexFile({{0x0, Pattern(8192, 4)}});
    for (const Case& c : cases) {
        SimTarget sim(c.sim);
        RunResult r = Program(sim, "LPC2000_ISP,12000", hex, c.commands);
        EXPECT_EQ(r.exitCode, 70) << c.err << r.out;
        EXPECT_EQ(r.err, c.err) << r.out;
        EXPECT_TRUE(Contains(r.out, c.out)) << r.out;
    }
}

TEST_F(LpcIspUpload, ConnectsToABootRomInCommandModeAndAfterALostAnswer) {
    CodeRecords records = {{0x0, Pattern(4096, 3)}};
    for (const auto& more : {std::vector<std::string>{"--command-mode"}, std::vector<std::string>{"--fault=drop@J#1"}}) {
        SimTarget sim(Sim("LPC1768", more));
        RunResult r = Program(sim, "LPC2000_ISP,12000", HexFile(records), {"--contout=5", "--erase", "--write"});
        EXPECT_EQ(r.exitCode, 0) << more[0] << r.out << r.err;
        sim.Stop();
        EXPECT_EQ(sim.Memory(), WithLpcVectorChecksum(MemoryImage(records, 4096), true)) << more[0];
    }
}

TEST_F(LpcIspUpload, FastModeHandsOverToEachRoutineAndFallsBackWhereNoneFits) {
    struct Case {
        const char* part;
        const char* driver;
        const char* routine;  // the simulator's reading of the parameter block; null: falls back
        bool cortex;
    };
    const Case cases[] = {
        {"LPC1768", "LPC2000_ISP,12000,921600", "RAM routine: UART 923077 baud, block 4096, last sector 29", true},
        {"LPC2378", "LPC2000_ISP,12000,230400", "RAM routine: UART 230769 baud, block 4096, last sector 27", false},
        {"LPC2134", "LPC2000_ISP,10000,115200", "RAM routine: UART 115741 baud, block 4096, last sector 10", false},
        {"LPC2138", "LPC2000_ISP,12000,115200", nullptr, false},  // no routine for the part
        {"LPC2134", "LPC2000_ISP,12000,115200", nullptr, false},  // its routine needs a 10 MHz crystal
        // Past the table: what the UART makes within 1 % (the simulator's model of the
        // routine reads the rate the parameter block makes).
        {"LPC1768", "LPC2000_ISP,12000,1000000", "RAM routine: UART 1000000 baud", true},
        {"LPC1768", "LPC2000_ISP,12000,3030000", "RAM routine: UART 3000000 baud", true},  // 0.99 % off
        {"LPC1768", "LPC2000_ISP,12000,3040000", nullptr, true},                           // 1.3 % off
        {"LPC2364", "LPC2000_ISP,12000,2000000", nullptr, false},  // nothing between 1.5 and 3 Mbaud
    };
    CodeRecords records = {{0x0, Pattern(9000, 7)}};
    std::string hex = HexFile(records);
    for (const Case& c : cases) {
        // The routine is modelled from its parameter block: this is about the driver's
        // hand-over, not about the routine's code on the emulated CPU.
        // The simulator's model of the routines reads the parameter block the driver
        // patched and says what it holds; the real routines run in LpcFastModeRates.
        SimTarget sim(Sim(c.part, {"--exit-after-exec", "--no-emulation"}));
        RunResult r = Program(sim, c.driver, hex, {"--erase", "--write", "--exec"});
        ASSERT_EQ(r.exitCode, 0) << c.part << r.out << r.err;
        EXPECT_EQ(sim.WaitExit(5000), 0);
        std::vector<std::string> routine = sim.NotesStartingWith("lpc_isp: go to");
        if (c.routine) {
            ASSERT_FALSE(routine.empty());
            EXPECT_TRUE(Contains(routine.front(), c.routine)) << routine.front();
            EXPECT_TRUE(sim.NotesStartingWith("lpc_isp: copy").empty());  // the routine wrote the flash
            EXPECT_TRUE(sim.NotesStartingWith("lpc_isp: rate ").empty());  // loaded at the line's own rate
        } else {
            EXPECT_TRUE(Contains(r.out, "\nWARNING: Use of external drive to enable faster programming requested but "
                                        "not supported by the current device.\nNOTE: Falling back to using internal "
                                        "bootloader only.\n\n"))
                << r.out;
            EXPECT_EQ(sim.NotesStartingWith("lpc_isp: copy").size(), 3u);
        }
        // The vector block still gets its checksum when the routine writes it; the routine
        // pads to 16 bytes, the boot ROM's copies to 4 KiB.
        EXPECT_EQ(sim.Memory(), WithLpcVectorChecksum(MemoryImage(records, c.routine ? 9008 : 12288), c.cortex)) << c.part;
    }
}

// Every rate of every routine, each routine running as ARM or Thumb code on the
// simulator's emulated CPU: the flash must hold the prepared image, and the routine must
// have kept the part's rules (PLL, dividers, IAP clock).
struct RoutineRates {
    const char* part;
    const char* crystal;
    bool cortex;
    std::vector<int> rates;
};
class LpcFastModeRates : public SimUpload, public ::testing::WithParamInterface<RoutineRates> {};

TEST_P(LpcFastModeRates, TheRealRoutineProgramsAtEveryRateOfItsTable) {
    const RoutineRates& c = GetParam();
    CodeRecords records = {{0x0, Pattern(5000, 11)}};
    std::string hex = HexFile(records);
    for (int rate : c.rates) {
        SCOPED_TRACE(rate);
        SimTarget sim(Sim(c.part, {"--exit-after-exec"}));
        std::string driver = std::string("LPC2000_ISP,") + c.crystal + "," + std::to_string(rate);
        RunResult r = Program(sim, driver, hex, {"--erase", "--write", "--exec"});
        ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_EQ(sim.WaitExit(5000), 0);
        // The routine copies whole IAP pages, the padding 0xFF.
        std::vector<uint8_t> memory = sim.Memory();
        ASSERT_GE(memory.size(), 5008u);
        EXPECT_EQ(std::vector<uint8_t>(memory.begin(), memory.begin() + 5008),
                  WithLpcVectorChecksum(MemoryImage(records, 5008), c.cortex));
        EXPECT_TRUE(std::all_of(memory.begin() + 5008, memory.end(), [](uint8_t b) { return b == 0xFF; }));
        std::vector<std::string> notes = sim.Notes();
        EXPECT_TRUE(std::none_of(notes.begin(), notes.end(), [](const std::string& n) { return Contains(n, "violation"); }));
        EXPECT_EQ(sim.NotesStartingWith("lpc_isp: go to 00000000: user code start, vector checksum valid").size(), 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Routines, LpcFastModeRates,
    ::testing::Values(RoutineRates{"LPC2134", "10000", false, {38400, 57600, 115200, 230400, 250000, 500000}},
                      RoutineRates{"LPC2378", "12000", false,
                                   {115200, 153600, 230400, 250000, 256000, 460800, 500000, 576000, 921600}},
                      RoutineRates{"LPC1768", "12000", true,
                                   {115200, 153600, 230400, 250000, 256000, 460800, 500000, 576000, 921600}}),
    [](const ::testing::TestParamInfo<RoutineRates>& info) { return std::string(info.param.part); });

TEST_F(LpcIspUpload, ExecWdtresResetsThePartThroughItsWatchdog) {
    CodeRecords records = {{0x0, Pattern(4096, 12)}};
    SimTarget sim(Sim("LPC2148", {"--exit-after-exec"}));
    RunResult r = Program(sim, "LPC2000_ISP,12000", HexFile(records), {"-d", "--erase", "--write", "--exec=wdtres"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "\n  WdtReset OK"));
    EXPECT_EQ(sim.WaitExit(5000), 0);
    std::string log = ReadFile(sim.Dir() + "/wire.log");
    EXPECT_TRUE(Contains(log, "watchdog reset")) << log;
    EXPECT_TRUE(Contains(log, "user code start, vector checksum valid"));
}

// Every row of the part table, by its ID: identified, its sectors erased, a block of its
// copy size programmed and compared behind the boot ROM's vectors, the vector checksum
// where its core wants it.
TEST_F(LpcIspUpload, EveryPartOfTheTable) {
    for (const LpcPart& part : LpcPartTable()) {
        char id[16];
        snprintf(id, sizeof id, "0x%08X", part.id);
        SCOPED_TRACE(id);
        SimTarget sim(Sim(id));
        CodeRecords records = {{0x0, Pattern(static_cast<size_t>(part.copySize), static_cast<uint8_t>(part.number))}};
        RunResult r = Program(sim, "LPC2000_ISP,12000", HexFile(records), {"--erase", "--write"});
        if (part.sectors == 0) {  // no flash of its own
            EXPECT_EQ(r.err, "\nERROR: Incorrect sectors given.");
            continue;
        }
        ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_TRUE(Contains(r.out, "\nLPC" + std::to_string(part.number) + ", "));
        EXPECT_TRUE(Contains(r.out, "\nErase sectors: 0-" + std::to_string(part.sectors - 1) + " OK"));
        sim.Stop();
        EXPECT_EQ(sim.Memory(), WithLpcVectorChecksum(MemoryImage(records, part.copySize), LpcIsCortex(part)));
    }
}

// The word at 0x2FC (Cortex-M) or 0x1FC (ARM7) sets the code read protection. An image
// whose word would shut the boot ROM's serial loader out for good is refused before the
// part is erased or written, through the boot ROM and in fast mode, unless --allowlock
// came first; the levels that only restrict the boot ROM are written with a warning.
TEST_F(LpcIspUpload, ImagesThatLockThePartNeedAnOptIn) {
    struct Case {
        const char* part;
        const char* driver;
        uint32_t word;
        bool allow;
        std::string said;  // the ERROR, or the WARNING of a written image ("": neither)
        std::string note;  // behind it
    };
    const std::string optIn = "\nNOTE: Give --allowlock before the write to program such an image.";
    const Case cases[] = {
        {"LPC2148", "LPC2000_ISP,12000", 0x43218765, false,
         "\nERROR: The image locks the part: code read protection CRP3 (43218765 at 000001FC).",
         "\nNOTE: CRP3: no debug access, and the boot ROM never again enters its serial loader." + optIn},
        {"LPC1768", "LPC2000_ISP,12000,921600", 0x4E697370, false,
         "\nERROR: The image locks the part: code read protection NO_ISP (4E697370 at 000002FC).",
         "\nNOTE: NO_ISP: the boot ROM never again enters its serial loader: no ISP programming." + optIn},
        {"LPC1768", "LPC2000_ISP,12000", 0x43218765, true,
         "\nWARNING: The image sets code read protection CRP3 (43218765 at 000002FC).",
         "\nNOTE: CRP3 from the next reset: no debug access, and the boot ROM never again enters its serial loader."},
        {"LPC2148", "LPC2000_ISP,12000", 0x12345678, false,
         "\nWARNING: The image sets code read protection CRP1 (12345678 at 000001FC).",
         "\nNOTE: CRP1 from the next reset: no debug access; the boot ROM refuses READ and VERIFY, erases sector 0 only "
         "with the rest."},
        {"LPC1768", "LPC2000_ISP,12000,921600", 0x87654321, false,
         "\nWARNING: The image sets code read protection CRP2 (87654321 at 000002FC).",
         "\nNOTE: CRP2 from the next reset: no debug access; the boot ROM refuses READ and VERIFY, erases only the whole "
         "part."},
        {"LPC2148", "LPC2000_ISP,12000", 0x4E697370, false, "", ""},  // no level on the ARM7 parts
    };
    for (const Case& c : cases) {
        const bool cortex = std::string(c.part) == "LPC1768";
        const bool refused = c.said.rfind("\nERROR", 0) == 0;
        CodeRecords records = {{0x0, Pattern(0x400, 9)}};
        for (int b = 0; b < 4; ++b) records[0].second[(cortex ? 0x2FC : 0x1FC) + b] = static_cast<uint8_t>(c.word >> (8 * b));
        std::vector<std::string> commands = {"--erase", "--write"};
        if (c.allow) commands.insert(commands.begin(), "--allowlock");
        SimTarget sim(Sim(c.part));
        RunResult r = Program(sim, c.driver, HexFile(records), commands);
        EXPECT_EQ(r.exitCode, refused ? 70 : 0) << c.part << std::hex << c.word << r.out << r.err;
        if (refused)
            EXPECT_EQ(r.err, c.said) << c.part << std::hex << c.word << r.out;
        else
            EXPECT_TRUE(Contains(r.out, c.said + c.note)) << c.part << std::hex << c.word << r.out << r.err;
        EXPECT_TRUE(Contains(r.out, c.note)) << c.part << std::hex << c.word << r.out;
        if (c.said.empty()) {
            EXPECT_FALSE(Contains(r.out, "code read protection")) << r.out;
        }
        sim.Stop();
        const bool touched = !sim.NotesStartingWith("lpc_isp: erase").empty() ||
                             !sim.NotesStartingWith("lpc_isp: emu: IAP command 5").empty();
        EXPECT_EQ(touched, !refused) << c.part << std::hex << c.word;
    }
}
