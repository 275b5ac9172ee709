// The pieces of the LPC boot-ROM driver that need no target: data lines, the part
// table with its sector maps, the vector checksum and the RAM routine parameters.
#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "drivers/lpc/code_prep.hpp"
#include "drivers/lpc/parts.hpp"
#include "drivers/lpc/ram_routines.hpp"
#include "drivers/lpc/uuencode.hpp"
#include "image/code_image.hpp"

namespace {
const LpcPart& Part(uint32_t id) {
    const LpcPart* part = LpcIdentify(id);
    EXPECT_NE(part, nullptr) << std::hex << id;
    return *part;
}

uint32_t WordSum(const uint8_t* bytes) {
    uint32_t sum = 0;
    for (int i = 0; i < 32; i += 4) sum += bytes[i] | (bytes[i + 1] << 8) | (bytes[i + 2] << 16) | (uint32_t{bytes[i + 3]} << 24);
    return sum;
}
}  // namespace

TEST(LpcUuencode, LinesCarryCountGroupsOfFourAndCrLf) {
    std::vector<uint8_t> data(45);
    std::iota(data.begin(), data.end(), 0);
    std::string full = UuEncodeLine(data.data(), 45);
    EXPECT_EQ(full.size(), 1 + 60 + 2u);
    EXPECT_EQ(full.front(), 'M');  // 45 + 32
    EXPECT_EQ(full.substr(full.size() - 2), "\r\n");
    // 00 01 02 -> 000000 000000 000100 000010; zero is a grave accent, not a blank.
    EXPECT_EQ(full.substr(1, 4), "``$\"");
    const uint8_t tail[] = {0xFF};
    EXPECT_EQ(UuEncodeLine(tail, 1), "!_P``\r\n");  // padded with zero bytes
}

TEST(LpcParts, IdentificationSectorsAndCopySizesAcrossEveryMap) {
    struct Case {
        uint32_t id;
        int number, flash, ram, sectors, copy;
        char map;
        int sector;
        uint32_t start, end;
    };
    const Case cases[] = {
        {0x0004FF11, 2103, 32, 8, 8, 4096, 'A', 7, 0x7000, 0x7FFF},
        {0xFFF0FF32, 2106, 128, 64, 15, 8192, 'B', 14, 0x1C000, 0x1DFFF},
        {0x0201FF13, 2129, 256, 16, 17, 8192, 'D', 10, 0x30000, 0x31FFF},
        {0x0002FF25, 2138, 512, 32, 27, 4096, 'E', 26, 0x7C000, 0x7CFFF},
        {0x0402FF25, 2148, 512, 40, 27, 4096, 'E', 22, 0x78000, 0x78FFF},
        {0x26013F37, 1768, 512, 64, 30, 4096, 'F', 16, 65536, 98303},
        {0x26012837, 1768, 512, 64, 30, 4096, 'F', 29, 0x78000, 524287},
        {0x2C42502B, 1311, 8, 4, 2, 1024, 'F', 5, 0x1000, 0x1FFF},  // beyond the last: the last
        {0x1701FF35, 2478, 512, 96, 28, 4096, 'E', 27, 0x7D000, 0x7DFFF},
    };
    for (const Case& c : cases) {
        const LpcPart& p = Part(c.id);
        EXPECT_EQ(p.number, c.number);
        EXPECT_EQ(p.flashKiB, c.flash);
        EXPECT_EQ(p.ramKiB, c.ram);
        EXPECT_EQ(p.sectors, c.sectors);
        EXPECT_EQ(p.copySize, c.copy);
        EXPECT_EQ(p.map->name, c.map);
        EXPECT_EQ(LpcIsCortex(p), c.map == 'F');
        EXPECT_EQ(LpcSectorStart(p, c.sector), c.start) << c.number;
        EXPECT_EQ(LpcSectorEnd(p, c.sector), c.end) << c.number;
    }
    EXPECT_EQ(LpcPartTable().size(), 67u);
    EXPECT_EQ(LpcIdentify(0x12345678), nullptr);
    // Every part's sectors lie in its flash (the boot block may take the top of it).
    for (const LpcPart& p : LpcPartTable()) {
        if (p.sectors > 0) {
            EXPECT_LE(LpcSectorEnd(p, p.sectors - 1) + 1, static_cast<uint32_t>(p.flashKiB) * 1024) << p.number;
        }
    }
    EXPECT_EQ(LpcSectorEnd(Part(0x0301FF12), 0), 0xFFFFFFFFu);  // LPC2210: no flash
}

TEST(LpcCodePrep, VectorChecksumAndVectorBlockLast) {
    for (uint32_t id : {0x26013F37u, 0x0402FF25u}) {
        LpcSetCurrentPart(Part(id));
        CodeImage image;
        std::vector<uint8_t> vectors(64);
        std::iota(vectors.begin(), vectors.end(), 1);
        CodeAddData(image, 0x0, 64, vectors.data());
        CodeAddData(image, 0x1000, 4, vectors.data());
        LpcPrepareCode(image);
        ASSERT_EQ(image.records.size(), 2u);
        EXPECT_EQ(image.records.back().address, 0u);  // written after everything else
        const uint8_t* data = CodeData(image, image.records.back());
        EXPECT_EQ(WordSum(data), 0u);
        // Cortex-M keeps word 5 and replaces word 7; ARM7 the other way round.
        int kept = LpcIsCortex(LpcCurrentPart()) ? 5 : 7;
        EXPECT_EQ(data[4 * kept], vectors[4 * kept]);
        std::vector<uint8_t> once(data, data + 64);
        LpcPrepareCode(image);  // the block at 0 is last now: no vector table first
        CodeMoveFirstToEnd(image);
        LpcPrepareCode(image);
        EXPECT_EQ(std::vector<uint8_t>(CodeData(image, image.records.back()), CodeData(image, image.records.back()) + 64), once);
    }
    LpcSetCurrentPart(kNoLpcPart);
}

TEST(LpcRamRoutines, ParameterBlocksFollowPartCrystalAndRate) {
    struct Case {
        uint32_t id;
        int crystal;
        uint32_t baud;
        bool supported;
        uint32_t load;
        uint8_t lastSector, divisor, multiplier, divAdd, mul;
    };
    const Case cases[] = {
        {0x26013F37, 12000, 921600, true, 0x10000200, 29, 3, 35, 1, 12},
        {0x1701FF35, 12000, 115200, true, 0x40000200, 27, 24, 35, 1, 12},
        {0x0002FF11, 10000, 230400, true, 0x40000200, 8, 16, 5, 0, 0},
        {0x0002FF12, 10000, 500000, true, 0x40000200, 10, 5, 3, 0, 0},
        {0x0002FF12, 12000, 115200, false, 0, 0, 0, 0, 0, 0},  // the LPC213x routine needs 10 MHz
        // Rates outside the tables: the setting that comes closest, within 1 %.
        {0x26013F37, 12000, 3000000, true, 0x10000200, 29, 1, 35, 0, 1},
        {0x26013F37, 12000, 1500000, true, 0x10000200, 29, 2, 35, 0, 1},
        {0x26013F37, 12000, 3030000, true, 0x10000200, 29, 1, 35, 0, 1},  // 0.99 % off
        {0x26013F37, 12000, 3040000, false, 0, 0, 0, 0, 0, 0},             // 1.3 % off
        {0x0603FB02, 12000, 128000, true, 0x40000200, 10, 22, 35, 1, 15},  // 127841: 0.12 % off
        {0x0603FB02, 12000, 2000000, false, 0, 0, 0, 0, 0, 0},  // between 1.5 and 3 Mbaud nothing
        {0x0002FF12, 10000, 76800, true, 0x40000200, 10, 49, 5, 0, 0},     // 60 MHz / 16 / 49: 0.35 % off
        {0x0002FF12, 10000, 460800, false, 0, 0, 0, 0, 0, 0},  // no fractional divider to get there
        {0x0002FF25, 12000, 115200, false, 0, 0, 0, 0, 0, 0},  // LPC2138: no routine
        {0x26113F37, 12000, 921600, false, 0, 0, 0, 0, 0, 0},  // LPC1769 neither
    };
    for (const Case& c : cases) {
        LpcRamRoutine routine;
        ASSERT_EQ(LpcConfigureRamRoutine(Part(c.id), c.crystal, c.baud, routine), c.supported) << std::hex << c.id;
        if (!c.supported) continue;
        const uint8_t* p = routine.image.data();
        EXPECT_EQ(routine.loadAddress, c.load);
        EXPECT_EQ(p[LPC_PARAM_LOAD] | (p[LPC_PARAM_LOAD + 1] << 8) | (p[LPC_PARAM_LOAD + 2] << 16) |
                      (uint32_t{p[LPC_PARAM_LOAD + 3]} << 24),
                  c.load);
        EXPECT_EQ(p[LPC_PARAM_BLOCK_SIZE] | (p[LPC_PARAM_BLOCK_SIZE + 1] << 8), 4096);
        EXPECT_EQ(p[LPC_PARAM_LAST_SECTOR], c.lastSector);
        EXPECT_EQ(p[LPC_PARAM_DIVISOR], c.divisor);
        EXPECT_EQ(p[LPC_PARAM_MULTIPLIER], c.multiplier);
        EXPECT_EQ(p[LPC_PARAM_DIV_ADD_VAL], c.divAdd);
        EXPECT_EQ(p[LPC_PARAM_MUL_VAL], c.mul);
        EXPECT_EQ(routine.thumb, c.load == 0x10000200);
    }
}

TEST(LpcRamRoutines, PackedRoutinesNameTheirRingAndFallBackToThePlainOne) {
    struct Case {
        uint32_t id;
        int crystal;
        uint32_t entry, ring, ringSize;
        bool dma;
    };
    const Case cases[] = {
        {0x26013F37, 12000, 0x10000221, 0x2007C000, 16384, true},  // LPC1768: AHB SRAM, by DMA
        {0x25001121, 12000, 0x10000221, 0x10001D40, 8192, true},   // LPC1752: local SRAM only
        {0x0603FB02, 12000, 0x40000220, 0x7FE00000, 8192, false},  // LPC2364: Ethernet RAM
        {0x1700FD25, 12000, 0x40000220, 0x40002000, 8192, false},  // LPC2378
        {0x0002FF12, 10000, 0x40000220, 0, 0, false},              // LPC2134: the plain routine
    };
    for (const Case& c : cases) {
        LpcRamRoutine routine;
        ASSERT_TRUE(LpcConfigureRamRoutine(Part(c.id), c.crystal, 230400, routine, true)) << std::hex << c.id;
        const uint8_t* p = routine.image.data();
        auto le32 = [p](size_t at) { return p[at] | p[at + 1] << 8 | p[at + 2] << 16 | uint32_t{p[at + 3]} << 24; };
        EXPECT_EQ(routine.entryAddress, c.entry);
        EXPECT_EQ(le32(LPC_PARAM_ENTRY), c.entry);
        EXPECT_EQ(routine.packed, c.ringSize != 0);
        if (!routine.packed) continue;
        EXPECT_EQ(le32(LPC_PARAM_RING), c.ring);
        EXPECT_EQ(le32(LPC_PARAM_RING_SIZE), c.ringSize);
        EXPECT_EQ(p[LPC_PARAM_FLAGS], c.dma ? 1 : 0);
        EXPECT_EQ(routine.window, c.dma ? c.ringSize : 0);
    }
}
