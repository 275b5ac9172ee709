// Fast mode with --compress: packed blocks to the routines that take them, running on the
// simulator's emulated CPUs, and frames damaged on the line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "drivers/lpc/images/images.hpp"
#include "support/sim_upload.hpp"

namespace {
// Real machine code (the routines' own), blocks that packing cannot shrink, a short last
// block and an erased one: packed, stored and left-alone blocks in one image.
CodeRecords MixedImage() {
    std::vector<uint8_t> code;
    while (code.size() < 12288) {
        code.insert(code.end(), kLpcRoutineCortexM3, kLpcRoutineCortexM3 + sizeof kLpcRoutineCortexM3);
        code.insert(code.end(), kLpcRoutineArm7Lpc23xx, kLpcRoutineArm7Lpc23xx + sizeof kLpcRoutineArm7Lpc23xx);
    }
    code.resize(12288);
    return {{0x0, code},
            {0x3000, Pattern(4096, 3)},
            {0x4000, Pattern(1024, 5)},
            {0x5000, std::vector<uint8_t>(4096, 0xFF)}};
}
constexpr size_t kImageEnd = 0x6000;

std::vector<uint8_t> Expected(const CodeRecords& records, bool cortex) {
    return WithLpcVectorChecksum(MemoryImage(records, kImageEnd), cortex);
}

// The flash up to the image's end (the dump ends with the last programmed byte).
std::vector<uint8_t> Flash(const SimTarget& sim) {
    std::vector<uint8_t> memory = sim.Memory();
    memory.resize(kImageEnd, 0xFF);
    return memory;
}

// The wire log's lines from the routine's start on: time, direction or note, text.
struct LogLine {
    double time;
    std::string kind;  // "H>T", "T>H" or "#"
    std::string text;
};
std::vector<LogLine> RoutineLog(const SimTarget& sim) {
    std::vector<LogLine> lines;
    std::istringstream log(ReadFile(sim.Dir() + "/wire.log"));
    bool started = false;
    for (std::string line; std::getline(log, line);) {
        std::istringstream fields(line);
        LogLine l;
        fields >> l.time >> l.kind;
        std::getline(fields, l.text);
        started = started || Contains(l.text, "the code runs on the emulated");
        if (started) lines.push_back(l);
    }
    return lines;
}

// The bytes the host sent after the erase before the first frame was answered: more than
// one frame's when it keeps frames on their way.
size_t SentBeforeTheFirstAnswer(const std::vector<LogLine>& lines) {
    size_t n = 0;
    bool erasing = false, erased = false;
    for (const LogLine& l : lines) {
        if (!erased) {
            erasing = erasing || (l.kind == "H>T" && l.text == " 45");
            erased = erasing && l.kind == "T>H";  // the erase's answer
            continue;
        }
        if (l.kind == "T>H") break;
        if (l.kind == "H>T") n += (l.text.size() + 1) / 3;
    }
    return n;
}

size_t HostBytesIn(const std::vector<LogLine>& lines) {
    size_t n = 0;
    for (const LogLine& l : lines)
        if (l.kind == "H>T") n += (l.text.size() + 1) / 3;
    return n;
}

std::vector<std::string> Sim(const std::string& part, std::vector<std::string> more) {
    more.insert(more.begin(), {"--protocol=lpc_isp", "--part=" + part});
    return more;
}
}  // namespace

struct PackedRun {
    const char* part;
    int rate;
    const char* made;  // the rate the part's UART makes of it
    bool cortex;
    const char* routineLoad;  // the packed routine's load, as the boot ROM notes it
    bool dma;                 // the GPDMA takes bytes while the CPU is in the IAP
};
class LpcPackedBlocks : public SimUpload, public ::testing::WithParamInterface<PackedRun> {};

// With the line and the flash timed: every byte takes its bit time at the rate, every
// copy its millisecond per 256 bytes.
TEST_P(LpcPackedBlocks, EachRoutineProgramsPackedBlocksAtTheRate) {
    const PackedRun& c = GetParam();
    if (!VORLO_SIM_EMULATION) GTEST_SKIP() << "vorlo-sim is built without the CPU emulator";
    CodeRecords records = MixedImage();
    SimTarget sim(Sim(c.part, {"--baud=115200"}));
    RunResult r = Program(sim, "LPC2000_ISP,12000," + std::to_string(c.rate), HexFile(records),
                          {"--compress", "--erase", "--write", "--verify"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "\nVerify OK.")) << r.out;  // the routine's own 'S' and 'R' after the frames
    sim.Stop();
    EXPECT_EQ(Flash(sim), Expected(records, c.cortex));
    EXPECT_EQ(sim.NotesStartingWith(std::string("lpc_isp: write to RAM ") + c.routineLoad).size(), 1u);
    // The boot ROM took the routine at its fastest rate.
    EXPECT_EQ(sim.NotesStartingWith("lpc_isp: rate 230400, 1 stop bit").size(), 1u);
    EXPECT_EQ(sim.NotesStartingWith(std::string("lpc_isp: emu: UART0 at ") + c.made + " baud").size(), 1u);
    for (const std::string& note : sim.Notes()) {
        EXPECT_FALSE(Contains(note, "violation")) << note;
        EXPECT_FALSE(Contains(note, "overrun")) << note;
    }
    // Four copies of 4 KiB and one of 1 KiB; the erased block needs none.
    EXPECT_EQ(sim.NotesStartingWith("lpc_isp: emu: IAP command 51").size(), 5u);
    std::vector<LogLine> lines = RoutineLog(sim);
    // Packed: far fewer bytes than the image, and they took their time on the line.
    size_t sent = HostBytesIn(lines);
    EXPECT_LT(sent, kImageEnd * 7 / 10);
    EXPECT_GE(lines.back().time - lines.front().time, sent * 10.0 / c.rate);
    // With the GPDMA taking the bytes in, the host keeps frames on their way while the
    // routine programs (and nothing overruns, above); without, one frame at a time.
    EXPECT_EQ(SentBeforeTheFirstAnswer(lines) > 4096 + 16, c.dma);
}

INSTANTIATE_TEST_SUITE_P(
    Routines, LpcPackedBlocks,
    ::testing::Values(PackedRun{"LPC1768", 921600, "923077", true, "10000200, 2208 bytes", true},
                      PackedRun{"LPC1768", 3000000, "3000000", true, "10000200, 2208 bytes", true},
                      PackedRun{"LPC1752", 3000000, "3000000", true, "10000200, 2208 bytes", true},
                      PackedRun{"LPC2364", 921600, "923077", false, "40000200, 2336 bytes", false},
                      PackedRun{"LPC2364", 3000000, "3000000", false, "40000200, 2336 bytes", false}),
    [](const ::testing::TestParamInfo<PackedRun>& info) {
        return std::string(info.param.part) + "_" + std::to_string(info.param.rate);
    });

using LpcPackedFaults = SimUpload;

// A frame damaged on the line is refused by its CRC and sent again; a lost byte, a
// damaged header or a damaged answer takes the routine and the host back to the start
// of a frame. The routine's own bytes are counted from its first: 'C', 'I', 'E', then
// the first frame ('Z', sequence number, header from byte 6, data from byte 16).
TEST_F(LpcPackedFaults, DamagedFramesAreRefusedAndSentAgain) {
    if (!VORLO_SIM_EMULATION) GTEST_SKIP() << "vorlo-sim is built without the CPU emulator";
    struct Case {
        const char* fault;
        const char* hostSays;  // in vorlo's debug output
    };
    const Case cases[] = {
        {"corrupt@uart0#200", "gen_iap: Failed to write 1000. Try 1"},  // data: NAK, the frame again
        {"drop@uart0#10", "gen_iap: resync"},                          // header: CAN, resync
        {"drop@uart0#300", "gen_iap: resync"},                         // data: the frames misalign
        {"corrupt@emu#5", "gen_iap: resync"},                          // an answer on its way back
        {"nak@B", "The routine goes at 115200 baud."},                  // the boot ROM keeps its rate
    };
    CodeRecords records = MixedImage();
    std::string hex = HexFile(records);
    // The LPC1768's routine with frames on their way behind the damaged one, the
    // LPC2378's with one frame at a time.
    for (bool cortex : {true, false}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.fault) + (cortex ? " LPC1768" : " LPC2378"));
            SimTarget sim(Sim(cortex ? "LPC1768" : "LPC2378", {"--fault=" + std::string(c.fault)}));
            RunResult r = Program(sim, "LPC2000_ISP,12000,921600", hex, {"-d", "--compress", "--erase", "--write"});
            ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
            EXPECT_TRUE(Contains(r.out, c.hostSays)) << r.out;
            sim.Stop();
            EXPECT_EQ(Flash(sim), Expected(records, cortex));
            EXPECT_EQ(sim.NotesStartingWith("fault: ").size(), 1u);
            // The damaged frame never reached the flash: the block was copied once.
            EXPECT_EQ(sim.NotesStartingWith("lpc_isp: emu: IAP command 51 (4096, ").size(), 1u);
        }
    }
}
