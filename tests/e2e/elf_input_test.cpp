// ELF input: what a toolchain writes, loaded as the target's loader would place it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/run_vorlo.hpp"

namespace {
struct Segment {
    uint32_t type;  // 1: PT_LOAD
    uint64_t paddr;
    uint64_t vaddr;
    std::vector<uint8_t> data;  // the file bytes
    uint64_t memsz;             // 0: the data's size
    int64_t offsetShift = 0;    // moves the file offset the header claims
};

// A minimal ELF file: header, program headers, then every segment's bytes.
std::string ElfFile(bool is64, bool bigEndian, uint16_t machine, uint64_t entry, const std::vector<Segment>& segments) {
    std::string out;
    auto put = [&](uint64_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            int shift = bigEndian ? 8 * (bytes - 1 - i) : 8 * i;
            out.push_back(static_cast<char>((value >> shift) & 0xFF));
        }
    };
    const int word = is64 ? 8 : 4;
    const uint64_t ehsize = is64 ? 64 : 52, phentsize = is64 ? 56 : 32;
    out += "\x7F" "ELF";
    out.push_back(is64 ? 2 : 1);
    out.push_back(bigEndian ? 2 : 1);
    out.push_back(1);
    out.append(9, '\0');
    put(2, 2);  // ET_EXEC
    put(machine, 2);
    put(1, 4);
    put(entry, word);
    put(ehsize, word);  // program headers right behind
    put(0, word);       // no section headers
    put(0, 4);
    put(ehsize, 2);
    put(phentsize, 2);
    put(segments.size(), 2);
    put(is64 ? 64 : 40, 2);
    put(0, 2);
    put(0, 2);
    uint64_t offset = ehsize + phentsize * segments.size();
    for (const Segment& s : segments) {
        const uint64_t filesz = s.data.size(), memsz = s.memsz ? s.memsz : filesz;
        const uint64_t at = offset + s.offsetShift;
        put(s.type, 4);
        if (is64) {
            put(5, 4);
            put(at, 8);
            put(s.vaddr, 8);
            put(s.paddr, 8);
            put(filesz, 8);
            put(memsz, 8);
            put(4, 8);
        } else {
            put(at, 4);
            put(s.vaddr, 4);
            put(s.paddr, 4);
            put(filesz, 4);
            put(memsz, 4);
            put(5, 4);
            put(4, 4);
        }
        offset += filesz;
    }
    for (const Segment& s : segments) out.append(s.data.begin(), s.data.end());
    return out;
}

std::vector<uint8_t> Bytes(std::initializer_list<int> list) { return std::vector<uint8_t>(list.begin(), list.end()); }

struct Files {
    std::string dir = MakeTempDir();
    std::string Path(const std::string& name) const { return dir + "/" + name; }
    // The image as an Intel HEX file written by vorlo (compacted: records merged).
    RunResult AsHex(const std::string& input, const std::string& output) const {
        return RunVorlo({"--importcode=" + Path(input), "--compactcode", "--format=INTELHEX", "--exportcode=" + Path(output)});
    }
};
}  // namespace

// An ARM program whose initialised data is copied from flash into RAM at start: the
// data must go to its load address in flash, as objcopy writes it.
TEST(ElfInput, ArmProgramAsObjcopyWritesIt) {
    if (system("arm-none-eabi-gcc --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no arm-none-eabi-gcc";
    Files f;
    WriteFile(f.Path("app.c"), "int counter = 0x12345678;\nconst char text[] = \"flash\";\nint table[4] = {1, 2, 3, 4};\n"
                               "void _start(void) { for (;;) counter += text[counter & 3] + table[1]; }\n");
    WriteFile(f.Path("app.ld"),
              "MEMORY { FLASH (rx) : ORIGIN = 0x00000000, LENGTH = 64K\n"
              "         RAM (rwx) : ORIGIN = 0x10000000, LENGTH = 8K }\n"
              "SECTIONS { .text : { *(.text*) *(.rodata*) . = ALIGN(4); } > FLASH\n"
              "           .data : { *(.data*) } > RAM AT > FLASH\n"
              "           .bss : { *(.bss*) } > RAM }\n");
    ASSERT_EQ(system(("arm-none-eabi-gcc -mcpu=cortex-m3 -mthumb -Os -nostdlib -T " + f.Path("app.ld") + " -o " +
                      f.Path("app.elf") + " " + f.Path("app.c") + " && arm-none-eabi-objcopy -O ihex " + f.Path("app.elf") +
                      " " + f.Path("objcopy.hex"))
                         .c_str()),
              0);
    ASSERT_EQ(f.AsHex("app.elf", "from_elf.hex").exitCode, 0);
    ASSERT_EQ(f.AsHex("objcopy.hex", "from_objcopy.hex").exitCode, 0);
    EXPECT_EQ(ReadFile(f.Path("from_elf.hex")), ReadFile(f.Path("from_objcopy.hex")));
    // Nothing at the RAM address the data runs at.
    RunResult r = RunVorlo({"--importcode=" + f.Path("app.elf"), "--listcode"});
    EXPECT_EQ(r.out.find("10000000"), std::string::npos) << r.out;
    // Named explicitly, the format reads the same; it is not written.
    r = RunVorlo({"--format=ELF", "--importcode=" + f.Path("app.elf"), "--exportcode=" + f.Path("x.elf")});
    EXPECT_EQ(r.exitCode, 70);
    EXPECT_EQ(r.err, "\nERROR: ELF files are read, not written: choose another format.");
}

// ELF32 little-endian (an MSP430), ELF32 big-endian and ELF64: the load address, not the
// run address; only the file bytes; the entry address.
TEST(ElfInput, BothWidthsAndByteOrders) {
    Files f;
    const std::vector<uint8_t> code = {0x31, 0x40, 0x00, 0x24, 0x3F, 0x40};
    const std::vector<uint8_t> vectors = {0x00, 0x44};
    struct Case {
        bool is64, bigEndian;
        uint16_t machine;
    };
    for (Case c : {Case{false, false, 105}, Case{false, true, 4}, Case{true, false, 183}, Case{true, true, 43}}) {
        std::vector<Segment> segments = {
            {1, 0x4400, 0x4400, code, 0},
            {1, 0xFFFE, 0xFFFE, vectors, 0},
            {1, 0x4406, 0x2400, {0xAA, 0xBB}, 0x40},  // data copied to RAM at 0x2400; its zeroed tail is not in the file
            {1, 0x2500, 0x2500, {}, 0x100},           // .bss: nothing in the file
            {4, 0x0, 0x0, {0x01, 0x02}, 0},           // PT_NOTE: not loaded
        };
        WriteFile(f.Path("p.elf"), ElfFile(c.is64, c.bigEndian, c.machine, 0x4400, segments));
        RunResult r = RunVorlo({"--importcode=" + f.Path("p.elf"), "--compactcode", "--listcode", "--listdata", "--getentryaddr"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.out.find("00004400-00004407: Size 8"), std::string::npos) << c.machine << r.out;
        EXPECT_NE(r.out.find("0000FFFE-0000FFFF: Size 2"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("314000243F40AABB"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("00004400"), r.out.rfind("00004400")) << r.out;  // the entry address printed as well
    }
}

TEST(ElfInput, DamagedFilesGetAClearErrorAndNoImage) {
    Files f;
    const std::vector<uint8_t> data(16, 0x5A);
    const std::string good = ElfFile(false, false, 40, 0, {{1, 0x1000, 0x1000, data, 0}});
    struct Case {
        std::string bytes;
        const char* note;
    };
    const Case cases[] = {
        {good.substr(0, 30), "Damaged or truncated ELF file."},
        {ElfFile(false, false, 40, 0, {{1, 0x1000, 0x1000, data, 0, 4096}}), "ELF segment outside the file."},
        {ElfFile(false, false, 40, 0, {{1, 0x1000, 0x1000, data, 0}, {1, 0x1008, 0x1008, data, 0}}), "ELF segments overlap."},
        {ElfFile(true, false, 62, 0, {{1, 0x100000000ull, 0, data, 0}}), "ELF address past 0xFFFFFFFF."},
        {ElfFile(true, false, 62, 0, {{1, 0xFFFFFFF8ull, 0, data, 0}}), "ELF address past 0xFFFFFFFF."},
    };
    for (const Case& c : cases) {
        WriteFile(f.Path("bad.elf"), c.bytes);
        RunResult r = RunVorlo({"--importcode=" + f.Path("bad.elf"), "--listcode"});
        EXPECT_EQ(r.exitCode, 70) << c.note;
        EXPECT_EQ(r.err, "\nERROR: Unknown file format or damaged file.");
        EXPECT_NE(r.out.find(std::string("read as ELF: ") + c.note), std::string::npos) << r.out;
        r = RunVorlo({"--format=ELF", "--importcode=" + f.Path("bad.elf")});
        EXPECT_EQ(r.err, std::string("\nERROR: ") + c.note);
    }
    WriteFile(f.Path("good.elf"), good);
    EXPECT_EQ(RunVorlo({"--importcode=" + f.Path("good.elf")}).exitCode, 0);
}
