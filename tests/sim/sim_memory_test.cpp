// The simulator's memory model on its own: per-sector erase, RAM and the copy from RAM
// to flash are what boot-ROM protocols build on, before any protocol reaches them.
#include <gtest/gtest.h>

#include "../../sim/memory.hpp"

using Bytes = std::vector<uint8_t>;

TEST(SimMemory, SectorsEraseOnTheirOwnAndRamIsPlainMemory) {
    TargetMemory m(0x1000, {0x1000, 0x1000, 0x2000}, 0x20000000, 0x100, false);
    uint32_t where = 0;
    EXPECT_EQ(m.SectorAt(0x0FFF), std::nullopt);
    EXPECT_EQ(m.SectorAt(0x2000), 1u);
    EXPECT_EQ(m.SectorAt(0x4FFF), 2u);
    EXPECT_EQ(m.SectorAt(0x5000), std::nullopt);

    // A write across the boundary of sectors 0 and 1: erasing sector 1 leaves sector 0's
    // part, in the cells and in the written ranges the dump shows.
    ASSERT_EQ(m.WriteFlash(0x1FF0, Bytes(0x20, 0x00), where), WriteResult::Ok);
    m.EraseSector(1);
    EXPECT_EQ(m.At(0x1FFF), 0x00);
    EXPECT_EQ(m.At(0x2000), 0xFF);
    EXPECT_EQ(m.WrittenRanges(), (std::map<uint64_t, uint64_t>{{0x1FF0, 0x2000}}));
    EXPECT_EQ(m.WriteFlash(0x1FF8, Bytes{0x01}, where), WriteResult::NotErased);
    EXPECT_EQ(where, 0x1FF8u);
    EXPECT_FALSE(m.EraseRange(1, 3));  // past the last sector: nothing erased
    EXPECT_EQ(m.At(0x1FFF), 0x00);
    EXPECT_TRUE(m.EraseRange(0, 1));
    EXPECT_TRUE(m.WrittenRanges().empty());

    // RAM takes any bytes over any bytes; a copy programs them into the flash.
    ASSERT_EQ(m.Write(0x20000000, Bytes{0x00, 0x02}, where), WriteResult::Ok);
    ASSERT_EQ(m.Write(0x20000000, Bytes{0xF1, 0x02, 0x03}, where), WriteResult::Ok);
    EXPECT_EQ(m.CopyRamToFlash(0x3000, 0x20000000, 3, where), WriteResult::Ok);
    EXPECT_EQ(m.CopyRamToFlash(0x3000, 0x200000FE, 4, where), WriteResult::OutOfRange);
    EXPECT_EQ(where, 0x20000100u);
    m.EraseAll();  // the flash only
    Bytes ram(3), flash(3);
    EXPECT_TRUE(m.Read(0x20000000, ram, where));
    EXPECT_EQ(ram, (Bytes{0xF1, 0x02, 0x03}));
    EXPECT_TRUE(m.Read(0x3000, flash, where));
    EXPECT_EQ(flash, Bytes(3, 0xFF));
    EXPECT_FALSE(m.Read(0x4FFE, flash, where));
    EXPECT_EQ(where, 0x5000u);
    EXPECT_EQ(m.Write(0x200000FF, Bytes{1, 2}, where), WriteResult::OutOfRange);  // not RAM, not flash
}
