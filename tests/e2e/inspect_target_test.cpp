// READ, VERIFY, BLANKCHECK and DEVICEINFO against simulated targets: what a production
// script that checks its work relies on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/sim_upload.hpp"

namespace {
// The image as the LPC boot ROM wants it: the first eight words sum to zero.
std::vector<uint8_t> WithVectorChecksum(std::vector<uint8_t> image, bool cortex) {
    int slot = cortex ? 7 : 5;
    uint32_t sum = 0;
    for (int i = 0; i < 8; ++i)
        if (i != slot) sum += image[4 * i] | image[4 * i + 1] << 8 | image[4 * i + 2] << 16 | uint32_t{image[4 * i + 3]} << 24;
    for (int b = 0; b < 4; ++b) image[4 * slot + b] = static_cast<uint8_t>((0u - sum) >> (8 * b));
    return image;
}

uint32_t Word(const std::vector<uint8_t>& m, size_t at) {
    return m[at] | m[at + 1] << 8 | m[at + 2] << 16 | uint32_t{m[at + 3]} << 24;
}

std::string Hex(uint32_t value, int digits = 8) {
    char text[16];
    snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

class InspectTarget : public SimUpload {
protected:
    // One run that checks a whole job: blank before, programmed and verified, read back
    // into a binary file, not blank after (the last command ends the run with 70).
    RunResult Job(const SimTarget& sim, const std::string& driver, const CodeRecords& records, const std::string& read,
                  int baud = 115200) {
        return Program(sim, driver, HexFile(records),
                       {"--erase", "--blankcheck", "--write", "--verify", "--deviceinfo", "--read=" + read,
                        "--format=BINARY", "--exportcode=" + dir + "/dump.bin", "--blankcheck"},
                       baud);
    }
    std::vector<uint8_t> Dump() const { return Bytes(ReadFile(dir + "/dump.bin")); }
};
}  // namespace

TEST_F(InspectTarget, LpcBootRomOfEveryMapKind) {
    struct Case {
        const char* part;
        bool cortex;
        const char* hidden;  // the boot ROM's vectors, which it can neither read nor compare
    };
    // Maps A, B, D, E, F.
    for (Case c : {Case{"LPC2103", false, "00000000-0000003F"}, Case{"LPC2106", false, "00000000-0000003F"},
                   Case{"LPC2129", false, "00000000-0000003F"}, Case{"LPC1311", true, "00000000-000001FF"},
                   Case{"LPC1768", true, "00000000-000001FF"}}) {
        CodeRecords records = {{0x0, Pattern(5000, 3)}};
        SimTarget sim({"--protocol=lpc_isp", std::string("--part=") + c.part});
        RunResult r = Job(sim, "LPC2000_ISP,12000", records, "0x200-0x13FF");
        EXPECT_EQ(r.exitCode, 70) << c.part << r.out << r.err;
        EXPECT_TRUE(Contains(r.out, "\nDevice is blank.\nWriting.")) << c.part << r.out;
        EXPECT_TRUE(Contains(r.out, std::string("\nNOTE: Not compared: ") + c.hidden)) << c.part << r.out;
        EXPECT_TRUE(Contains(r.out, "\nVerify OK.")) << c.part;
        EXPECT_TRUE(Contains(r.out, std::string("\nPart: ") + c.part)) << c.part;
        // Only the Cortex-M boot ROMs here know the serial number command.
        EXPECT_EQ(Contains(r.out, "\nSerial number: "), c.cortex) << c.part << r.out;
        EXPECT_TRUE(Contains(r.out, "\nRead 4608 bytes.")) << c.part;
        const std::vector<uint8_t> programmed = WithVectorChecksum(MemoryImage(records, 0x1400), c.cortex);
        EXPECT_EQ(Dump(), std::vector<uint8_t>(programmed.begin() + 0x200, programmed.end())) << c.part;
        // Sector 0 past the vectors: read, since the boot ROM's blank check sees its own vectors.
        const uint32_t first = c.cortex ? 0x200 : 0x40;
        EXPECT_EQ(r.err, "\nERROR: Device is not blank: sector 0, address " + Hex(first) + " holds " + Hex(Word(programmed, first)) + ".")
            << c.part;
    }
}

// Fast mode: the routine Vorlo loaded reads the real flash (vectors included) and
// verifies by CRC at its own rate.
TEST_F(InspectTarget, LpcFastModeThroughTheOwnRoutine) {
    if (!VORLO_SIM_EMULATION) GTEST_SKIP() << "vorlo-sim is built without the CPU emulator";
    for (const char* part : {"LPC1768", "LPC2378"}) {
        const bool cortex = part[3] == '1';
        CodeRecords records = {{0x0, Pattern(6000, 8)}};
        SimTarget sim({"--protocol=lpc_isp", std::string("--part=") + part});
        RunResult r = Job(sim, "LPC2000_ISP,12000,921600", records, "0-0x1FFF");
        EXPECT_EQ(r.exitCode, 70) << part << r.out << r.err;
        EXPECT_TRUE(Contains(r.out, "\nDevice is blank.\nWriting.")) << part << r.out;
        EXPECT_FALSE(Contains(r.out, "NOTE: Not")) << part;
        EXPECT_TRUE(Contains(r.out, "\nVerify OK.\nPart: " + std::string(part))) << part << r.out;
        EXPECT_TRUE(Contains(r.out, "\nBlock size: 4096 bytes")) << part;
        const std::vector<uint8_t> programmed = WithVectorChecksum(MemoryImage(records, 0x2000), cortex);
        EXPECT_EQ(Dump(), programmed) << part;
        EXPECT_EQ(r.err, "\nERROR: Device is not blank: sector 0, address 00000000 holds " + Hex(Word(programmed, 0)) + ".");
        EXPECT_GE(sim.NotesStartingWith("lpc_isp: emu:").size(), 1u);
    }
}

TEST_F(InspectTarget, Msp430ByCrcCheckAndTheBslPassword) {
    CodeRecords records = {{0x8000, Pattern(300, 4)}, {0xFFE0, Pattern(32, 200)}};
    SimTarget sim({"--protocol=msp430_bsl"});
    RunResult r = Job(sim, "MSP430BSL", records, "0x8000-0x80FF");
    EXPECT_EQ(r.exitCode, 70) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "\nDevice is blank.\nWriting.")) << r.out;
    EXPECT_TRUE(Contains(r.out, "\nVerify OK.\nBSL version: ")) << r.out;
    EXPECT_EQ(Dump(), std::vector<uint8_t>(records[0].second.begin(), records[0].second.begin() + 256));
    EXPECT_EQ(r.err, "\nERROR: Device is not blank: address 00008000 holds " + Hex(records[0].second[0], 2) + ".");

    // A new BSL session is locked: the password is the vectors of the image at hand.
    r = Program(sim, "MSP430BSL", HexFile(records), {"--read=0x8000-0x800F", "--verify"});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "\nNOTE: BSL password: the vectors FFE0-FFFF of the loaded image.")) << r.out;
}

// A wrong password makes the BSL erase the part: a command that only looks sends only a
// password known to be the part's, from the image loaded first or --bslpassword.
TEST_F(InspectTarget, Msp430LooksWithoutEverRiskingTheFirmware) {
    CodeRecords records = {{0x8000, Pattern(200, 7)}, {0xFFE0, Pattern(32, 90)}};
    const std::string hex = HexFile(records, "part.hex");
    const std::string locked = "\nERROR: The BSL is locked and its password is not known: none was sent.";
    const std::string how = "\nNOTE: A wrong password makes the BSL erase the part. The password is the interrupt vector "
                            "table (FFE0-FFFF) of the code on the part.\nNOTE: Load that code first (--importcode=FILE), or "
                            "name it with --bslpassword=FILE (--bslpassword=ERASED for a blank part).";
    SimTarget sim({"--protocol=msp430_bsl", "--load=" + hex});
    for (const char* command : {"--read=0x8000-0x800F", "--blankcheck", "--deviceinfo"}) {
        RunResult r = Program(sim, "MSP430BSL", "", {command});
        EXPECT_EQ(r.exitCode, 70) << command << r.out;
        EXPECT_EQ(r.err, locked) << command;
        EXPECT_TRUE(Contains(r.out, how)) << command << r.out;
    }
    // The part's own code: its version, an exact read; the password also from a file.
    RunResult r = Program(sim, "MSP430BSL", hex,
                          {"--deviceinfo", "--read=0x8001-0x8010", "--format=BINARY", "--exportcode=" + dir + "/dump.bin"});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "\nNOTE: BSL password: the vectors FFE0-FFFF of the loaded image.\nBSL version: 00.05.04.34"))
        << r.out;
    EXPECT_EQ(Dump(), std::vector<uint8_t>(records[0].second.begin() + 1, records[0].second.begin() + 17));
    r = Program(sim, "MSP430BSL", "", {"--bslpassword=" + hex, "--blankcheck"});
    EXPECT_EQ(r.err, "\nERROR: Device is not blank: address 00008000 holds " + Hex(records[0].second[0], 2) + ".");
    EXPECT_TRUE(Contains(r.out, "\nNOTE: BSL password: the vectors FFE0-FFFF of " + hex + ".")) << r.out;
    sim.Stop();
    // Nothing wrong was ever sent: the firmware is still there.
    EXPECT_TRUE(sim.NotesStartingWith("msp430_bsl: wrong password").empty());
    const std::vector<uint8_t> memory = sim.Memory();
    ASSERT_GE(memory.size(), 0x10000u - 0x1800);
    EXPECT_EQ(std::vector<uint8_t>(memory.begin() + (0x8000 - 0x1800), memory.begin() + (0x8000 - 0x1800 + 200)),
              records[0].second);

    // ERASED says the part is blank: on this one a wrong password, which erases it.
    SimTarget blank({"--protocol=msp430_bsl", "--load=" + hex});
    r = Program(blank, "MSP430BSL", "", {"--bslpassword=ERASED", "--read=0x8000-0x800F"});
    EXPECT_EQ(r.err, "\nERROR: The BSL refused the password: a wrong password makes it erase the part, which is now blank.");
    r = Program(blank, "MSP430BSL", "", {"--bslpassword=ERASED", "--blankcheck"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(Contains(r.out, "\nNOTE: BSL password: the default (32 bytes FF, an erased part).\nDevice is blank.")) << r.out;
    r = Program(blank, "MSP430BSL", "", {"--bslpassword=" + HexFile({{0x8000, Pattern(4, 1)}}, "novectors.hex")});
    EXPECT_EQ(r.err, "\nERROR: " + dir + "/novectors.hex holds nothing at FFE0-FFFF, the interrupt vectors that are the BSL "
                     "password.");
}

// R reads whole words and code files start their records on 32-byte blocks: a dump of a
// range that starts inside both holds the requested bytes and nothing else.
TEST_F(InspectTarget, AnUnalignedLpcReadHoldsOnlyTheFlashsBytes) {
    CodeRecords records = {{0x0, Pattern(0x3000, 5)}};
    SimTarget sim({"--protocol=lpc_isp", "--part=LPC2106", "--load=" + HexFile(records, "flash.hex")});
    RunResult r = Program(sim, "LPC2000_ISP,12000", "",
                          {"--read=0x2001-0x2102", "--format=BINARY", "--exportcode=" + dir + "/dump.bin"});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "\nRead 258 bytes.")) << r.out;
    EXPECT_EQ(Dump(), std::vector<uint8_t>(records[0].second.begin() + 0x2001, records[0].second.begin() + 0x2103));
}

// A bit that never programs, a damaged read answered by RESEND, code read protection.
TEST_F(InspectTarget, FaultsEndTheRunWithTheAddressOrTheReason) {
    CodeRecords one = {{0x0, Pattern(4096, 1)}};
    one[0].second[0x800] = 0x01;  // bit 0 set where it sticks
    CodeRecords other = one;
    other[0].second[0x800] = 0x00;
    CodeRecords changed = one;
    changed[0].second[0x900] ^= 0x5A;
    struct Case {
        std::vector<std::string> sim;
        const char* driver;
        std::vector<std::string> commands;
        std::string err;
    };
    const Case cases[] = {
        {{"--protocol=lpc_isp", "--part=LPC2148", "--stuck-bit=0x800:0"},
         "LPC2000_ISP,12000",
         {"--erase", "--write", "--importcode=" + HexFile(other, "other.hex"), "--verify"},
         "\nERROR: Verify failed at 00000800: read 01, expected 00."},
        {{"--protocol=msp430_bsl", "--stuck-bit=0x8800:0"},
         "MSP430BSL",
         {"--erase", "--write", "--importcode=" + HexFile({{0x8000, other[0].second}}, "msp.hex"), "--verify"},
         "\nERROR: Verify failed at 00008800: read 01, expected 00."},
        // A byte changed behind Vorlo's back: the simulator starts with it.
        {{"--protocol=lpc_isp", "--part=LPC1768", "--load=" + HexFile(changed, "changed.hex")},
         "LPC2000_ISP,12000",
         {"--verify"},
         "\nERROR: Verify failed at 00000900: read " + Hex(changed[0].second[0x900], 2) + ", expected " +
             Hex(one[0].second[0x900], 2) + "."},
        {{"--protocol=lpc_isp", "--part=LPC2148", "--fault=corrupt@R#2"}, "LPC2000_ISP,12000", {"--read=0x40-0xFFF"}, ""},
        {{"--protocol=lpc_isp", "--part=LPC2148", "--fault=corrupt@R"},
         "LPC2000_ISP,12000",
         {"--read=0x40-0xFFF"},
         "\nERROR: Read failed at 00000040."},
        {{"--protocol=lpc_isp", "--part=LPC2148", "--crp=1"},
         "LPC2000_ISP,12000",
         {"--read"},
         "\nERROR: Read refused: Code Read Protection Enabled."},
    };
    for (const Case& c : cases) {
        SimTarget sim(c.sim);
        const bool msp = c.driver[0] == 'M';
        RunResult r = Program(sim, c.driver, HexFile(msp ? CodeRecords{{0x8000, one[0].second}} : one), c.commands);
        EXPECT_EQ(r.exitCode, c.err.empty() ? 0 : 70) << c.driver << r.out << r.err;
        EXPECT_EQ(r.err, c.err) << c.sim.back();
    }
}

// Resident targets whose protocol cannot read: the run ends, never a silent success.
TEST_F(InspectTarget, DriversThatCannotReadSaySo) {
    struct Case {
        const char* protocol;
        const char* driver;
        const char* tag;
    };
    for (Case c : {Case{"gen_iap", "GEN_IAP", "gen_iap: "}, Case{"mic_extmem", "MIC_EXTMEM", "mic_extmem: "},
                   Case{"modbus", "MODBUS", ""}, Case{"lpc_iap", "LPC2000_IAP", ""}}) {
        const std::string hex = HexFile({{0x0, Pattern(64, 2)}});
        for (const char* command : {"READ", "VERIFY", "BLANKCHECK"}) {
            // A fresh target each time: an application left in its programming mode
            // does not take the entry request again.
            SimTarget sim({std::string("--protocol=") + c.protocol});
            RunResult r = Program(sim, c.driver, hex, {"--" + std::string(command)});
            EXPECT_EQ(r.exitCode, 70) << c.driver << command << r.out;
            EXPECT_EQ(r.err, std::string("\nERROR: ") + c.tag + "Function " + command + " not supported.") << c.driver;
        }
        SimTarget sim({std::string("--protocol=") + c.protocol});
        RunResult r = Program(sim, c.driver, hex, {"--deviceinfo"});
        EXPECT_EQ(r.exitCode, 0) << c.driver << r.err;
        EXPECT_TRUE(Contains(r.out, "\nBlock size: ")) << c.driver << r.out;
    }
}

// MEC_IAP has no memory commands of its own: once its application has dropped into the
// boot ROM, the LPC driver answers them.
TEST_F(InspectTarget, MecIapThroughTheBootRom) {
    CodeRecords records = {{0x0, Pattern(3000, 6)}};
    SimTarget sim({"--protocol=mec_iap", "--part=LPC2138"});
    RunResult r = Program(sim, "MEC_IAP", HexFile(records), {"--contout=5", "--erase", "--write", "--verify", "--deviceinfo"},
                          2400);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out, "\nVerify OK.\nPart: LPC2138\n")) << r.out;
}
