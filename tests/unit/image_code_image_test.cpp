#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "image/code_image.hpp"

namespace {
std::vector<uint8_t> Bytes(const CodeImage& image, size_t index) {
    const CodeRecord& r = image.records.at(index);
    const uint8_t* d = CodeData(image, r);
    return std::vector<uint8_t>(d, d + r.length);
}

void Add(CodeImage& image, uint32_t address, uint32_t length, uint8_t first = 0) {
    std::vector<uint8_t> data(length);
    for (uint32_t i = 0; i < length; ++i) data[i] = static_cast<uint8_t>(first + i);
    CodeAddData(image, address, length, data.data());
}

std::string Listing(const CodeImage& image) {
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    CodeList(image, out);
    fclose(out);
    std::string s(text, size);
    free(text);
    return s;
}
}  // namespace

TEST(CodeImage, AppendCountsAndDropsEmptyRecords) {
    CodeImage image;
    CodeAddData(image, 0x100, 0, nullptr);
    CodeAppend(image, CodeNewRecord(image, 0x100, 0, nullptr));
    EXPECT_EQ(image.numRecords, 0);
    EXPECT_EQ(image.numBytes, 0);
    Add(image, 0x200, 3, 7);
    EXPECT_EQ(image.numRecords, 1);
    EXPECT_EQ(image.numBytes, 3);
    EXPECT_EQ(Bytes(image, 0), (std::vector<uint8_t>{7, 8, 9}));
    // A source inside the image's own store survives the store growing.
    for (int i = 0; i < 2000; ++i) CodeAddData(image, 0x1000 + i * 3, 3, CodeData(image, image.records[0]));
    EXPECT_EQ(Bytes(image, 2000), (std::vector<uint8_t>{7, 8, 9}));
    EXPECT_EQ(CompCodeSize(image), image.numBytes);
}

TEST(CodeImage, SortedOrderIsAddressThenLongestThenInsertion) {
    CodeImage image;
    Add(image, 0x300, 1, 0xA0);
    CodeSort(image);
    CodeInsertSorted(image, CodeNewRecord(image, 0x100, 4, nullptr, 0x44));
    CodeInsertSorted(image, CodeNewRecord(image, 0x100, 8, nullptr, 0x81));
    CodeInsertSorted(image, CodeNewRecord(image, 0x100, 8, nullptr, 0x82));
    ASSERT_EQ(image.numRecords, 4);
    EXPECT_EQ(Bytes(image, 0)[0], 0x81);
    EXPECT_EQ(Bytes(image, 1)[0], 0x82);
    EXPECT_EQ(Bytes(image, 2)[0], 0x44);
    EXPECT_EQ(image.records[3].address, 0x300u);

    CodeImage other;
    Add(other, 0x100, 4, 1);
    Add(other, 0x100, 8, 2);
    Add(other, 0x080, 2, 3);
    Add(other, 0x100, 8, 4);
    CodeSort(other);
    EXPECT_EQ(other.records[0].address, 0x80u);
    EXPECT_EQ(Bytes(other, 1)[0], 2);
    EXPECT_EQ(Bytes(other, 2)[0], 4);
    EXPECT_EQ(Bytes(other, 3)[0], 1);
}

TEST(CodeImage, CompactMergesOnlyRecordsThatContinueEachOther) {
    CodeImage image;
    Add(image, 0x10, 16, 0x10);
    Add(image, 0x00, 16, 0x00);  // stored behind its successor: bytes must be gathered
    Add(image, 0x31, 15, 0x31);  // gap of one byte stays
    CodeCompact(image);
    ASSERT_EQ(image.numRecords, 2);
    EXPECT_EQ(image.records[0].address, 0u);
    EXPECT_EQ(image.records[0].length, 32u);
    std::vector<uint8_t> expected(32);
    for (int i = 0; i < 32; ++i) expected[i] = static_cast<uint8_t>(i);
    EXPECT_EQ(Bytes(image, 0), expected);
    EXPECT_EQ(image.records[1].address, 0x31u);
    EXPECT_EQ(image.numBytes, 47);
}

TEST(CodeImage, AlignBlocksFillsFrontAndHolesInsideABlock) {
    CodeImage image;
    Add(image, 0x25, 3, 1);
    CodeAlignBlocks(image, 32, 0xFF);
    ASSERT_EQ(image.numRecords, 1);
    EXPECT_EQ(image.records[0].address, 0x20u);
    EXPECT_EQ(Bytes(image, 0), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3}));

    CodeImage two;
    Add(two, 0x18, 4, 0x18);
    Add(two, 0x10, 4, 0x10);
    Add(two, 0x45, 1, 0x45);  // next block: front padded only to 0x40
    CodeAlignBlocks(two, 32, 0xEE);
    ASSERT_EQ(two.numRecords, 2);
    EXPECT_EQ(two.records[0].address, 0u);
    EXPECT_EQ(two.records[0].length, 0x1Cu);
    std::vector<uint8_t> b = Bytes(two, 0);
    EXPECT_EQ(b[0x0F], 0xEE);
    EXPECT_EQ(b[0x10], 0x10);
    EXPECT_EQ(b[0x14], 0xEE);
    EXPECT_EQ(b[0x18], 0x18);
    EXPECT_EQ(two.records[1].address, 0x40u);
    EXPECT_EQ(two.records[1].length, 6u);
    EXPECT_EQ(two.numBytes, 0x1C + 6);
}

TEST(CodeImage, SplitAndRecordLength) {
    CodeImage image;
    Add(image, 0, 70);
    CodeSplit(image, 32);
    ASSERT_EQ(image.numRecords, 3);
    EXPECT_EQ(image.records[1].address, 0x20u);
    EXPECT_EQ(image.records[2].address, 0x40u);
    EXPECT_EQ(image.records[2].length, 6u);
    EXPECT_EQ(Bytes(image, 2)[0], 0x40);
    EXPECT_EQ(image.numBytes, 70);

    CodeImage lengths;
    Add(lengths, 0x000, 5, 1);
    Add(lengths, 0x100, 16);
    Add(lengths, 0x200, 17);
    CodeSetRcordLength(lengths, 16, 0xFF);
    EXPECT_EQ(lengths.records[0].length, 16u);
    EXPECT_EQ(lengths.records[1].length, 16u);
    EXPECT_EQ(lengths.records[2].length, 32u);
    EXPECT_EQ(Bytes(lengths, 0)[4], 5);
    EXPECT_EQ(Bytes(lengths, 0)[5], 0xFF);
    EXPECT_EQ(Bytes(lengths, 2)[16], 16);
    EXPECT_EQ(Bytes(lengths, 2)[31], 0xFF);
    EXPECT_EQ(lengths.numBytes, 64);
}

TEST(CodeImage, MoveFirstToEndAndFree) {
    CodeImage image;
    Add(image, 0, 4, 0xA);
    Add(image, 0x100, 2, 0xB);
    CodeMoveFirstToEnd(image);
    EXPECT_EQ(image.records[0].address, 0x100u);
    EXPECT_EQ(Bytes(image, 1)[0], 0xA);
    EXPECT_EQ(image.numBytes, 6);
    EXPECT_EQ(image.numRecords, 2);
    image.name = "HDR";
    image.entryAddress = 0x1234;
    CodeFree(image);
    EXPECT_EQ(image.numBytes, 0);
    EXPECT_EQ(image.numRecords, 0);
    EXPECT_FALSE(image.name.has_value());
    EXPECT_EQ(image.entryAddress, 0x1234u);
    CodeFree(image);
    EXPECT_TRUE(image.records.empty());
}

TEST(CodeImage, ListingAndDump) {
    CodeImage image;
    image.name = "HDR";
    Add(image, 0x1000, 256);
    Add(image, 0x2000, 2, 0xAB);
    EXPECT_EQ(Listing(image), "\n\rHDR\n\r00001000-000010FF: Size 256\n\r00002000-00002001: Size 2");
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    CodeImage small;
    Add(small, 0, 2, 0x0F);
    CodeDump(small, out);
    fclose(out);
    EXPECT_EQ(std::string(text, size), "\n\r0F10");
    free(text);
}

TEST(CodeImage, OverlapEndsTheRunNamingTheRecords) {
    CodeImage image;
    Add(image, 0x100, 16);
    Add(image, 0x108, 16);
    EXPECT_EXIT(CodeAlignBlocks(image, 32, 0xFF), testing::ExitedWithCode(70),
                "Code records overlap: 00000100-0000010F and 00000108-00000117");
}

TEST(CodeImage, ManyRecordsStayFast) {
    // Reverse order and gaps everywhere: quadratic work would take minutes here.
    CodeImage image;
    const uint32_t count = 200000;
    for (uint32_t i = count; i-- > 0;) Add(image, i * 48, 16, static_cast<uint8_t>(i));
    CodeAlignBlocks(image, 32, 0xFF);
    CodeSplit(image, 32);
    EXPECT_EQ(image.numRecords, static_cast<int32_t>(count));
    EXPECT_EQ(image.records[5].address, 5u * 48 - 16);
    EXPECT_EQ(Bytes(image, 5)[16], 5);
    EXPECT_EQ(CompCodeSize(image), image.numBytes);
}
