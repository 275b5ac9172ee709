// Black-box tests of the code file commands, with cross-checks against srec_cat and
// objcopy where they are installed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/run_vorlo.hpp"

namespace {
bool HasTool(const char* name) {
    return system((std::string("command -v ") + name + " > /dev/null 2>&1").c_str()) == 0;
}

// Deterministic firmware-like bytes.
std::string Pattern(size_t size, unsigned seed) {
    std::string s(size, '\0');
    unsigned x = seed;
    for (char& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return s;
}

struct Dir {
    std::string path = MakeTempDir();
    std::string operator/(const std::string& name) const { return path + "/" + name; }
};
}  // namespace

TEST(CodeCommands, FormatKeywordsAndDetection) {
    Dir d;
    WriteFile(d / "a.hex", ":020100000102FA\r\n:00000001FF\r\n");
    WriteFile(d / "a.s19", "S10500000102F7\r\nS9030000FC\r\n");
    WriteFile(d / "a.xml",
              "<Firmware><Code><Block><Content type=\"IntelHex\">:020100000102FA\n:00000001FF\n</Content></Block>"
              "</Code></Firmware>");
    WriteFile(d / "a.bin", std::string("\x01\x02", 2));

    RunResult r = RunVorlo({"--format=intelhex", "--format=INTELHEX", "--format=MOTS"});
    EXPECT_EQ(r.exitCode, 70);
    EXPECT_NE(r.err.find("ERROR: Unsupported file format \"MOTS\""), std::string::npos);

    r = RunVorlo({"--importcode=" + (d / "a.hex"), "--exportcode=" + (d / "o1")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(d / "o1"), ":020100000102FA\r\n:00000001FF\r\n");
    r = RunVorlo({"--importcode=" + (d / "a.s19"), "--exportcode=" + (d / "o2")});
    EXPECT_EQ(ReadFile(d / "o2"), "S0030000FC\r\nS10500000102F7\r\nS9030000FC\r\n");
    RunOptions inDir;
    inDir.workDir = d.path;
    r = RunVorlo({"--importcode=" + (d / "a.xml"), "--exportcode=" + (d / "o3")}, inDir);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(d / "o3").substr(0, 14), "S0030000FC\r\nS3");
    // The container is parsed in memory: nothing is left in the working directory.
    for (const std::string& name : ListDir(d.path)) EXPECT_EQ(name.find("@tempf"), std::string::npos);

    r = RunVorlo({"--importcode=" + (d / "a.bin")});
    EXPECT_EQ(r.exitCode, 70);
    EXPECT_NE(r.err.find("ERROR: Unknown file format or damaged file."), std::string::npos);
    r = RunVorlo({"--format=BINARY", "--importcode=" + (d / "a.bin"), "--listcode", "--listdata", "--getentryaddr"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("\n\r00000000-00000001: Size 2\n\r0102\n00000000"), std::string::npos) << r.out;

    r = RunVorlo({"--importcode=" + (d / "missing.hex")});
    EXPECT_EQ(r.exitCode, 70);
    EXPECT_NE(r.err.find("Can't open file"), std::string::npos);
}

TEST(CodeCommands, ExportAlignsDriverBinFillsAndTestFuncLists) {
    Dir d;
    WriteFile(d / "in.mot", "0000100503010203\r\n");
    RunResult r = RunVorlo({"--format=MOTBREC", "--importcode=" + (d / "in.mot"), "--exportcode=" + (d / "out.mot")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(d / "out.mot"), "0000100008FFFFFFFFFF010203\r\n");

    WriteFile(d / "two.mot", "000000000400010203\r\n000000100410111213\r\n");
    r = RunVorlo({"--format=MOTBREC", "--importcode=" + (d / "two.mot"), "--driverbin=" + (d / "drv.bin")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::string drv = ReadFile(d / "drv.bin");
    ASSERT_EQ(drv.size(), 20u);
    EXPECT_EQ(drv.substr(4, 12), std::string(12, '\xFF'));
    EXPECT_EQ(drv.substr(16), "\x10\x11\x12\x13");

    r = RunVorlo({"--format=MOTBREC", "--importcode=" + (d / "two.mot"), "--testfunc"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("\n\r00000000-00000013: Size 20\n\r00000000-00000FFF: Size 4096"), std::string::npos)
        << r.out;

    // Overlapping records are refused before any file is written.
    WriteFile(d / "overlap.mot", "000000000400010203\r\n000000020400010203\r\n");
    r = RunVorlo({"--format=MOTBREC", "--importcode=" + (d / "overlap.mot"), "--format=BINARY",
                  "--exportcode=" + (d / "overlap.bin")});
    EXPECT_EQ(r.exitCode, 70);
    EXPECT_NE(r.err.find("ERROR: Code records overlap: 00000000-00000003 and 00000002-00000005."),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(FileExists(d / "overlap.bin"));

    // S1 records hold 16 address bits.
    WriteFile(d / "high.mot", "000123450401020304\r\n");
    r = RunVorlo({"--format=MOTBREC", "--importcode=" + (d / "high.mot"), "--format=MOTSREC",
                  "--exportcode=" + (d / "high.s19")});
    EXPECT_EQ(r.exitCode, 70);
    EXPECT_NE(r.err.find("Address 00012345 is beyond the range of S1 records"), std::string::npos) << r.err;
    // ELF is read only: refused whatever the addresses, and a file of that name keeps its contents.
    WriteFile(d / "keep.hex", ":00000001FF\r\n");
    r = RunVorlo({"--format=MOTBREC", "--importcode=" + (d / "high.mot"), "--format=ELF", "--exportcode=" + (d / "keep.hex")});
    EXPECT_EQ(r.exitCode, 70);
    EXPECT_EQ(r.err, "\nERROR: ELF files are read, not written: choose another format.");
    EXPECT_EQ(ReadFile(d / "keep.hex"), ":00000001FF\r\n");
}

TEST(CodeCommands, DamagedInputsReportTheirStatus) {
    Dir d;
    const struct {
        const char* format;
        std::string content;
        const char* text;
    } cases[] = {
        {"INTELHEX", ":020100000102FA\r\n", "Unexpected EOF."},
        {"INTELHEX", ":0201000001ZZFA\r\n:00000001FF\r\n", "Invalid data."},
        {"INTELHEX", ":020100000102F\r\n", "Invalid line length."},
        {"INTELHEX", ":00000009F7\r\n", "Unknown record type."},
        {"INTELHEX", "", "Unexpected EOF."},
        {"INTELHEX", Pattern(300, 7), "Invalid line length."},
        {"MOTSREC", "S10500000102F8\r\nS9030000FC\r\n", "Checksum mismatch."},
        {"MOTSREC", "S10500000102F7\r\n", "Unexpected EOF."},
        {"MOTSREC32", "S1070000010\r\n", "Invalid line length."},
        {"MOTSREC24", "S1FF00000102F7\r\n", "Invalid record length"},
        {"BINARY", "", "Unknown error."},
        {"MOTBREC", "00001000020102030\r\n", "Invalid line length."},
        {"INTELHEX", ":020100000102FB\r\n:00000001FF\r\n", "Checksum mismatch."},
        // 16 bytes at 0xFFFFFFF8 would wrap onto address 0.
        {"INTELHEX", ":02000004FFFFFC\r\n:10FFF800" + std::string(32, '0') + "F9\r\n:00000001FF\r\n",
         "Invalid record length"},
        {"MOTSREC32", "S315FFFFFFF8" + std::string(32, '0') + "F5\r\nS70500000000FA\r\n", "Invalid record length"},
        {"MOTBREC", "FFFFFFF810" + std::string(32, '0') + "\r\n", "Invalid record length"},
    };
    int i = 0;
    for (const auto& c : cases) {
        std::string file = d / ("damaged" + std::to_string(i++));
        WriteFile(file, c.content);
        RunResult r = RunVorlo({std::string("--format=") + c.format, "--importcode=" + file, "--listcode"});
        EXPECT_EQ(r.exitCode, 70) << c.content;
        EXPECT_NE(r.err.find(std::string("ERROR: ") + c.text), std::string::npos) << c.content << r.err;
        EXPECT_EQ(r.out.find("Size"), std::string::npos);
    }
}

// Editors and tools often end a file with the last record and no line end.
TEST(CodeCommands, LastLineWithoutLineEndAndStartSegment) {
    Dir d;
    const struct {
        const char* format;  // empty: detected
        std::string content;
        const char* listed;
    } cases[] = {
        {"INTELHEX", ":0400000312345678E5\r\n:020100000102FA\r\n:00000001FF",
         "\n\r00000100-00000101: Size 2\n000179B8"},  // CS:IP 1234:5678
        {"", ":020100000102FA\n:00000001FF", "\n\r00000100-00000101: Size 2\n00000000"},
        {"MOTSREC", "S10500000102F7\r\nS9030010EC", "\n\r00000000-00000001: Size 2\n00000010"},
        {"MOTBREC", "0000100002ABCD\r\n0000200001EE", "\n\r00001000-00001001: Size 2\n\r00002000-00002000: Size 1"},
        {"", "<Firmware><Code><Block><Content type=\"IntelHex\">:020100000102FA\n:00000001FF</Content></Block>"
             "</Code></Firmware>",
         "\n\r00000100-00000101: Size 2"},
    };
    int i = 0;
    for (const auto& c : cases) {
        std::string file = d / ("open" + std::to_string(i++));
        WriteFile(file, c.content);
        std::vector<std::string> args = {"--importcode=" + file, "--listcode", "--getentryaddr"};
        if (*c.format) args.insert(args.begin(), std::string("--format=") + c.format);
        RunResult r = RunVorlo(args);
        EXPECT_EQ(r.exitCode, 0) << c.content << r.err;
        EXPECT_TRUE(Contains(r.out, c.listed)) << c.content << r.out;
    }
}

TEST(CodeCommands, ExampleFirmwareShowsItsVersion) {
    RunResult r = RunVorlo({"--importcode=" VORLO_SOURCE_DIR "/examples/blinky.hex", "--compactcode", "--listcode",
                            "--codeinfo"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("00000000-00000BFF: Size 3072"), std::string::npos);
    EXPECT_NE(r.out.find("\n       ID: BLINKY\n      Ver: 1.2.3\n"), std::string::npos) << r.out;
}

// Vorlo's files must carry the same data for srec_cat, and files written by srec_cat
// and objcopy must load into Vorlo with the same data.
TEST(CodeCrossCheck, AgreesWithSrecCatAndObjcopy) {
    if (!HasTool("srec_cat") || !HasTool("objcopy")) GTEST_SKIP() << "srec_cat or objcopy missing";
    Dir d;
    // Two pieces with a hole, above 1 MiB, so address records of every kind are needed.
    const std::string low = Pattern(5000, 1), high = Pattern(70000, 2);
    WriteFile(d / "low.bin", low);
    WriteFile(d / "high.bin", high);
    auto run = [&](const std::string& cmd) {
        int rc = system(cmd.c_str());
        EXPECT_EQ(rc, 0) << cmd;
    };
    // The reference image as srec_cat sees it, flattened with 0xFF from 0x00100000 (exports start on 32-byte blocks).
    run("srec_cat " + (d / "low.bin") + " -binary -offset 0x00100010 " + (d / "high.bin") +
        " -binary -offset 0x00108000 -o " + (d / "ref.hex") + " -intel");
    const std::string flatten = " -fill 0xFF 0x00100000 0x00119180 -offset -0x00100000 -o ";
    run("srec_cat " + (d / "ref.hex") + " -intel" + flatten + (d / "ref.flat") + " -binary");
    const std::string reference = ReadFile(d / "ref.flat");

    const struct {
        const char* format;
        const char* srecType;
    } outputs[] = {{"INTELHEX", "-intel"}, {"MOTSREC24", "-motorola"}, {"MOTSREC32", "-motorola"}};
    for (const auto& o : outputs) {
        std::string out = d / (std::string("vorlo.") + o.format);
        RunResult r = RunVorlo({"--importcode=" + (d / "ref.hex"), std::string("--format=") + o.format,
                                "--exportcode=" + out});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        run("srec_cat " + out + " " + o.srecType + flatten + out + ".flat -binary");
        EXPECT_EQ(ReadFile(out + ".flat"), reference) << o.format;
    }
    // DRIVERBIN lays the same bytes out flat from the first data byte on.
    RunResult r = RunVorlo({"--importcode=" + (d / "ref.hex"), "--driverbin=" + (d / "drv.bin")});
    EXPECT_EQ(ReadFile(d / "drv.bin"), reference.substr(16, reference.size() - 32));

    // Files of the other tools, re-exported by Vorlo as S3 and flattened by srec_cat.
    // objcopy writes a start address below 1 MiB as a start segment record (type 03).
    const struct {
        std::string command;
        const char* name;
        const char* entry;
    } foreign[] = {
        {"srec_cat " + (d / "ref.hex") + " -intel -o " + (d / "sc.s37") + " -motorola -execution-start-address=0",
         "sc.s37", "00000000"},
        {"srec_cat " + (d / "ref.hex") + " -intel -o " + (d / "sc2.s37") + " -motorola -line-length=500", "sc2.s37",
         "00000000"},
        {"objcopy -I ihex -O srec " + (d / "ref.hex") + " " + (d / "oc.srec"), "oc.srec", "00000000"},
        {"objcopy -I ihex -O ihex --set-start=0x12345 " + (d / "ref.hex") + " " + (d / "oc.hex"), "oc.hex",
         "00012345"},
    };
    for (const auto& f : foreign) {
        run(f.command);
        std::string back = d / (std::string(f.name) + ".back");
        r = RunVorlo({"--importcode=" + (d / f.name), "--getentryaddr", "--format=MOTSREC32", "--exportcode=" + back});
        ASSERT_EQ(r.exitCode, 0) << f.name << r.err;
        EXPECT_TRUE(Contains(r.out, std::string("\n") + f.entry)) << f.name << r.out;
        run("srec_cat " + back + " -motorola" + flatten + back + ".flat -binary");
        EXPECT_EQ(ReadFile(back + ".flat"), reference) << f.name;
    }
}
