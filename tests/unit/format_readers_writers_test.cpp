#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "image/code_formats.hpp"
#include "image/version_record.hpp"

namespace {
int Read(CodeFormatFunc reader, const std::string& text, CodeImage& image, int format) {
    std::string copy = text.empty() ? std::string(1, '\0') : text;
    FILE* in = fmemopen(copy.data(), text.size() ? text.size() : 0, "rb");
    if (!in) in = tmpfile();  // an empty stream
    int status = reader(in, image, format);
    fclose(in);
    return status;
}

std::string Write(CodeFormatFunc writer, CodeImage& image, int format, int* status = nullptr) {
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    int s = writer(out, image, format);
    fclose(out);
    if (status) *status = s;
    std::string result(text, size);
    free(text);
    return result;
}

std::vector<uint8_t> Bytes(const CodeImage& image, size_t index) {
    const CodeRecord& r = image.records.at(index);
    return std::vector<uint8_t>(CodeData(image, r), CodeData(image, r) + r.length);
}

std::string CodeInfo(CodeImage& image) {
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    CodeInfoPrint(image, out);
    fclose(out);
    std::string result(text, size);
    free(text);
    return result;
}
}  // namespace

TEST(FormatIntelHex, WriterLinesAndAddressRecords) {
    CodeImage image;
    uint8_t two[] = {1, 2};
    CodeAddData(image, 0x100, 2, two);
    EXPECT_EQ(Write(IntelHexExport, image, 0), ":020100000102FA\r\n:00000001FF\r\n");

    CodeImage segment;
    std::vector<uint8_t> sixteen(16, 0);
    CodeAddData(segment, 0x12340, 16, sixteen.data());
    std::string text = Write(IntelHexExport, segment, FORMAT_INTELHEX);
    EXPECT_EQ(text.substr(0, 17), ":020000021000EC\r\n");
    EXPECT_EQ(text.substr(17, 9), ":10234000");

    // At and above 1 MiB segment records cannot express the address.
    CodeImage high;
    CodeAddData(high, 0x0000FFF0, 16, sixteen.data());
    CodeAddData(high, 0x08010000, 2, two);
    EXPECT_EQ(Write(IntelHexExport, high, 0),
              ":10FFF000" + std::string(32, '0') + "01\r\n"
              ":020000040801F1\r\n"
              ":020000000102FB\r\n"
              ":00000001FF\r\n");
    int status = 0;
    EXPECT_EQ(Write(IntelHexExport, high, FORMAT_MOTSREC, &status), "");
    EXPECT_EQ(status, CODE_ERR_FORMAT);
}

TEST(FormatIntelHex, ReaderRecordsAndStatuses) {
    CodeImage image;
    EXPECT_EQ(Read(IntelHexImport, ":00000001FF\r\n", image, 0), CODE_OK);
    EXPECT_EQ(image.numRecords, 0);

    const struct {
        std::string text;
        uint32_t address;
        std::vector<uint8_t> bytes;
        uint32_t entry;
    } good[] = {
        {":0200000400807A\n\r:03000000010203F7\r:0400000508000101ED\r\r\n:00000001FF\n", 0x00800000, {1, 2, 3},
         0x08000101},
        {":020100000102FA\r\n:00000001FF", 0x100, {1, 2}, 0},  // no line end behind the end record
        // Start segment address CS:IP = 1234:5678 replaces the earlier linear one.
        {":0400000512345678E3\n:0400000312345678E5\n:020100000102FA\n:00000001FF\n", 0x100, {1, 2}, 0x179B8},
    };
    for (const auto& g : good) {
        CodeImage read;
        EXPECT_EQ(Read(IntelHexImport, g.text, read, FORMAT_INTELHEX), CODE_OK) << g.text;
        ASSERT_EQ(read.numRecords, 1) << g.text;
        EXPECT_EQ(read.records[0].address, g.address);
        EXPECT_EQ(Bytes(read, 0), g.bytes);
        EXPECT_EQ(read.entryAddress, g.entry) << g.text;
    }

    const struct {
        std::string text;
        int status;
    } damaged[] = {
        {":020100000102FA\r\n", CODE_ERR_EOF},                   // no end record
        {":020100000102FA\r\n:000000", CODE_ERR_LINE_LENGTH},    // damaged last line without a line end
        {":020100000102FA\r\n:00000001FE", CODE_ERR_CHECKSUM},
        {":03000000010203F6\r\n:00000001FF\r\n", CODE_ERR_CHECKSUM},
        {":02000004FFFFFC\r\n:10FFF800" + std::string(32, '0') + "F9\r\n:00000001FF\r\n",
         CODE_ERR_RECORD_LENGTH},  // runs past 0xFFFFFFFF
        {":020100000102FA\r\n\xFF:00000001FF\n", CODE_ERR_EOF},   // 0xFF byte
        {":020100000102FA\r\n\r\n:00000001FF\r\n", CODE_ERR_LINE_LENGTH},  // blank line in the middle
        {":020100000102FA\n\n:00000001FF\n", CODE_ERR_LINE_LENGTH},
        {":020100000102FA\r\n\n:00000001FF\r\n", CODE_ERR_LINE_LENGTH},
        {"\r\n:00000001FF\n", CODE_ERR_LINE_LENGTH},             // blank first line
        {":0201000001020\r\n", CODE_ERR_LINE_LENGTH},            // even length
        {":04010000010203FA\r\n:00000001FF\n", CODE_ERR_LINE_LENGTH},  // count longer than the line
        {"S00600004844521B\r\n", CODE_ERR_LINE_LENGTH},
        {"X020100000102FA\r\n", CODE_ERR_DATA},
        {":0201000001G2FA\r\n", CODE_ERR_DATA},
        {":00000006FA\r\n", CODE_ERR_RECORD_TYPE},
        {":00000101FE\r\n", CODE_ERR_RECORD_TYPE},
        {std::string(":") + std::string(254, '0') + "\r\n", CODE_ERR_LINE_OVERFLOW},
        {std::string(":") + std::string(300, '0') + "\r\n", CODE_ERR_LINE_LENGTH},
        {"\x7f" "ELF\x01\x02\x03\x00\x00\x00garbage", CODE_ERR_DATA},
        {"", CODE_ERR_EOF},
    };
    for (const auto& d : damaged) {
        CodeImage broken;
        EXPECT_EQ(Read(IntelHexImport, d.text, broken, 0), d.status) << d.text;
        if (d.status != CODE_ERR_LINE_OVERFLOW) {
            EXPECT_EQ(broken.numRecords, 0) << d.text;
        }
    }
    EXPECT_EQ(Read(IntelHexImport, ":00000001FF\n", image, FORMAT_BINARY), CODE_ERR_FORMAT);
}

TEST(FormatSRecord, WriterHeaderRecordsAndTerminators) {
    CodeImage image;
    uint8_t two[] = {1, 2};
    CodeAddData(image, 0, 2, two);
    EXPECT_EQ(Write(SRecordExport, image, FORMAT_MOTSREC), "S0030000FC\r\nS10500000102F7\r\nS9030000FC\r\n");
    image.name = "HDR";
    image.entryAddress = 0x012345;
    std::string s2 = Write(SRecordExport, image, FORMAT_MOTSREC24);
    EXPECT_EQ(s2.rfind("S00600004844521B\r\nS206000000010", 0), 0u) << s2;
    EXPECT_NE(s2.find("\r\nS804012345"), std::string::npos);
    std::string s3 = Write(SRecordExport, image, FORMAT_MOTSREC32);
    EXPECT_NE(s3.find("\r\nS3070000000001"), std::string::npos);
    EXPECT_NE(s3.find("\r\nS70500012345"), std::string::npos);

    // An address S1 records cannot hold is refused, not cut.
    int status = 0;
    EXPECT_EQ(Write(SRecordExport, image, FORMAT_MOTSREC, &status), "");
    EXPECT_EQ(status, CODE_ERR_DATA);

    // A count byte cannot exceed 255: 251 data bytes do not fit an S3 line.
    CodeImage full;
    std::vector<uint8_t> bytes(251, 0x5A);
    CodeAddData(full, 0x1000, 251, bytes.data());
    EXPECT_EQ(Write(SRecordExport, full, FORMAT_MOTSREC32, &status), "S0030000FC");
    EXPECT_EQ(status, CODE_ERR_RECORD_LENGTH);
}

TEST(FormatSRecord, ReaderRecordsNameAndStatuses) {
    CodeImage image;
    EXPECT_EQ(Read(SRecordImport, "S00600004844521B\r\nS20501234 5AAE7\r\nS804000000FB\r\n", image, 0),
              CODE_ERR_LINE_LENGTH);
    EXPECT_FALSE(image.name.has_value());
    EXPECT_EQ(Read(SRecordImport, "S00600004844521B\r\nS205012345AAE7\r\nS804000000FB\r\n", image, 0), CODE_OK);
    ASSERT_EQ(image.numRecords, 1);
    EXPECT_EQ(image.records[0].address, 0x012345u);
    EXPECT_EQ(Bytes(image, 0), (std::vector<uint8_t>{0xAA}));
    EXPECT_EQ(*image.name, "HDR");
    EXPECT_EQ(image.entryAddress, 0u);

    // Full-length records (count 255) read whole.
    CodeImage big;
    std::vector<uint8_t> data(250, 0x5A);
    CodeAddData(big, 0x1000, 250, data.data());
    std::string text = Write(SRecordExport, big, FORMAT_MOTSREC32);
    CodeImage back;
    EXPECT_EQ(Read(SRecordImport, text, back, FORMAT_MOTSREC32), CODE_OK);
    EXPECT_EQ(Bytes(back, 0), data);

    // A record count confirming every data record may end the file.
    CodeImage counted;
    EXPECT_EQ(Read(SRecordImport, "S10500000102F7\r\nS5030001FB\r\n", counted, 0), CODE_OK);
    EXPECT_EQ(counted.numRecords, 1);
    CodeImage unterminated;  // no line end behind the terminator
    EXPECT_EQ(Read(SRecordImport, "S10500000102F7\r\nS9030000FC", unterminated, 0), CODE_OK);
    EXPECT_EQ(unterminated.numRecords, 1);

    const struct {
        std::string text;
        int status;
    } damaged[] = {
        {"S10500000102F8\r\nS9030000FC\r\n", CODE_ERR_CHECKSUM},
        {"S10500000102F7\r\n", CODE_ERR_EOF},
        {"S10500000102F7\r\nS5030002FA\r\n", CODE_ERR_EOF},  // count says a record is missing
        {"S10500000102F7\r\nS9030", CODE_ERR_LINE_LENGTH},  // damaged last line without a line end
        {"S10500000102F7\r\nS9030000FD", CODE_ERR_CHECKSUM},
        {"S315FFFFFFF8" + std::string(32, '0') + "F5\r\nS70500000000FA\r\n", CODE_ERR_RECORD_LENGTH},
        {"S105000001F7\r\nS9030000FC\r\n", CODE_ERR_RECORD_LENGTH},
        {"S1020000FD\r\n", CODE_ERR_RECORD_LENGTH},
        {"S9040000AA51\r\n", CODE_ERR_RECORD_LENGTH},
        {"S40500000102F7\r\n", CODE_ERR_RECORD_TYPE},
        {"SA0500000102F7\r\n", CODE_ERR_RECORD_TYPE},
        {"S1050000010\r\n", CODE_ERR_LINE_LENGTH},
        {"\r\nS9030000FC\r\n", CODE_ERR_LINE_LENGTH},
        {"S10500000102F7\r\n\r\nS9030000FC\r\n", CODE_ERR_LINE_LENGTH},
        {":020100000102FA\r\n", CODE_ERR_LINE_LENGTH},
        {"T10500000102F7\r\n", CODE_ERR_DATA},
        {"S1050000010XF7\r\n", CODE_ERR_DATA},
        {std::string("S3") + std::string(600, '0') + "\r\n", CODE_ERR_LINE_OVERFLOW},
        {"", CODE_ERR_EOF},
    };
    for (const auto& d : damaged) {
        CodeImage broken;
        EXPECT_EQ(Read(SRecordImport, d.text, broken, 0), d.status) << d.text;
        EXPECT_EQ(broken.numRecords, 0) << d.text;
    }
}

TEST(FormatMotBRec, ReaderCommentsNoiseAndWriter) {
    CodeImage image;
    EXPECT_EQ(Read(MotBRecImport, "0000100002ABCD # comment\r\nab12\r\n0000200001EE", image, FORMAT_MOTBREC), CODE_OK);
    ASSERT_EQ(image.numRecords, 2);  // the last line has no line end and counts all the same
    EXPECT_EQ(image.records[0].address, 0x1000u);
    EXPECT_EQ(Bytes(image, 0), (std::vector<uint8_t>{0xAB, 0xCD}));
    EXPECT_EQ(Bytes(image, 1), (std::vector<uint8_t>{0xEE}));
    EXPECT_EQ(Write(MotBRecExport, image, 0), "0000100002ABCD\r\n0000200001EE\r\n");

    const struct {
        std::string text;
        int status;
        int records;
    } cases[] = {
        {"0000100002ABCD # note", CODE_OK, 1},
        {"0000100002ABCD\r\n0000200001EE\xFF", CODE_OK, 1},  // a line cut by 0xFF is dropped
        {"0000100002ABC\r\n", CODE_ERR_LINE_LENGTH, 0},
        {"0000100002ABCD\r\n0000100002ABC", CODE_ERR_LINE_LENGTH, 0},
        {"0000100003ABCD\r\n", CODE_ERR_RECORD_LENGTH, 0},
        {"FFFFFFF810" + std::string(32, '0') + "\r\n", CODE_ERR_RECORD_LENGTH, 0},
    };
    for (const auto& c : cases) {
        CodeImage read;
        EXPECT_EQ(Read(MotBRecImport, c.text, read, 0), c.status) << c.text;
        EXPECT_EQ(read.numRecords, c.records) << c.text;
    }
    EXPECT_EQ(Read(MotBRecImport, "0000100002ABCD\r\n", image, FORMAT_INTELHEX), CODE_ERR_FORMAT);
}

TEST(FormatBinary, ReaderAndWriterFillGaps) {
    CodeImage image;
    EXPECT_EQ(Read(BinaryImport, "", image, FORMAT_BINARY), CODE_ERR_UNKNOWN);
    EXPECT_EQ(Read(BinaryImport, std::string("\x01\x00\x02", 3), image, FORMAT_BINARY), CODE_OK);
    EXPECT_EQ(image.records[0].address, 0u);
    EXPECT_EQ(image.numBytes, 3);
    CodeImage gaps;
    uint8_t four[] = {1, 2, 3, 4};
    CodeAddData(gaps, 0x00, 4, four);
    CodeAddData(gaps, 0x40, 4, four);
    std::string flat = Write(BinaryExport, gaps, FORMAT_BINARY);
    ASSERT_EQ(flat.size(), 68u);
    EXPECT_EQ(flat.substr(4, 60), std::string(60, '\0'));
    CodeAddData(gaps, 0x42, 4, four);
    EXPECT_EXIT(Write(BinaryExport, gaps, FORMAT_BINARY), testing::ExitedWithCode(70), "overlap");
}

TEST(FormatXml, ContainerCarriesIntelHex) {
    const std::string hex = ":020100000102FA\n:00000001FF\n";
    CodeImage image;
    EXPECT_EQ(Read(XmlContainerImport,
                   "<?xml version=\"1.0\"?>\n<Firmware><Code><Block><Content type=\"IntelHex\"><![CDATA[" + hex +
                       "]]></Content></Block></Code></Firmware>",
                   image, 0),
              CODE_OK);
    EXPECT_EQ(image.numRecords, 1);
    EXPECT_EQ(Read(XmlContainerImport, ":00000001FF\n", image, 0), CODE_ERR_UNKNOWN);
    EXPECT_EQ(Read(XmlContainerImport, "<Firmware><Code>", image, 0), CODE_ERR_UNKNOWN);
    EXPECT_EQ(Read(XmlContainerImport, "<Other/>", image, 0), CODE_ERR_FORMAT);
    EXPECT_EQ(Read(XmlContainerImport, "<Firmware><Code><Block/><Block/></Code></Firmware>", image, 0), CODE_ERR_FORMAT);
    EXPECT_EQ(Read(XmlContainerImport, "<Firmware><Code><Block><Content type=\"Srec\">x</Content></Block></Code></Firmware>",
                   image, 0),
              CODE_ERR_FORMAT);
    CodeImage untyped;
    EXPECT_EQ(Read(XmlContainerImport, "<Firmware><Code><Block><Content>:00</Content></Block></Code></Firmware>",
                   untyped, 0),
              CODE_OK);
    EXPECT_EQ(untyped.numRecords, 0);
    EXPECT_EQ(Read(XmlContainerImport, "<Firmware/>", image, FORMAT_INTELHEX), CODE_ERR_FORMAT);
}

TEST(FormatStatus, Texts) {
    EXPECT_STREQ(CodeStatusText(3), "Unexpected EOF.");
    EXPECT_STREQ(CodeStatusText(9), "Checksum mismatch.");
    EXPECT_STREQ(CodeStatusText(10), "Unknown import/export error.");
    EXPECT_STREQ(CodeStatusText(0), "Unknown import/export error.");
}

// A format is its row: each keyword and code names one row, and each row reaches the
// format it says (the code never set is written as S1 records).
TEST(FormatTable, KeywordsCodesAndDetectionAreUnique) {
    std::set<std::string> keywords;
    std::set<int> codes;
    std::set<char> firstChars;
    for (const CodeFileFormat& f : CodeFileFormats()) {
        EXPECT_TRUE(f.reader);
        if (f.keyword) {
            EXPECT_TRUE(keywords.insert(f.keyword).second) << f.keyword;
            EXPECT_TRUE(codes.insert(f.code).second) << f.keyword;
            EXPECT_EQ(CodeFormatNamed(f.keyword), &f);
            EXPECT_EQ(&CodeFormatOf(f.code), &f);
        }
        if (f.detection == DETECT_TRIED && f.firstChar) {
            EXPECT_TRUE(firstChars.insert(f.firstChar).second) << f.name;
        }
        if (f.detection == DETECT_SIGNATURE) {
            EXPECT_GT(strlen(f.signature), 0u) << f.name;
        }
    }
    for (int code = FORMAT_BINARY; code <= FORMAT_ELF; ++code) EXPECT_EQ(codes.count(code), 1u) << code;
    EXPECT_EQ(CodeFormatNamed("MOTS"), nullptr);
    EXPECT_EQ(CodeFormatOf(FORMAT_NONE).writer, SRecordExport);
    EXPECT_EQ(CodeFormatOf(FORMAT_NONE).addressLimit, 0xFFFFu);
}

TEST(FormatVersionRecord, PlacementsByteOrdersAndFlags) {
    auto record = [](const std::string& version, std::vector<uint8_t> block, size_t pad) {
        std::string t = std::string("xx", 2) + std::string(" ***\0", 5) + "APP" + '\0' + version + '\0' + "(c) K" +
                        '\0' + "2026-01-01" + '\0' + "***" + '\0';
        std::vector<uint8_t> bytes(t.begin(), t.end());
        bytes.insert(bytes.end(), pad, 0);
        bytes.insert(bytes.end(), block.begin(), block.end());
        return bytes;
    };
    CodeImage packed;
    auto p = record("1.2.3", {9, 3, 0, 2, 1, 4, 0, 0, 0}, 0);
    CodeAddData(packed, 0x100, static_cast<uint32_t>(p.size()), p.data());
    EXPECT_EQ(CodeInfo(packed),
              "\n       ID: APP\n      Ver: 1.2.3\n     Date: 2026-01-01\nCopyright: (c) K\n    Flags: 00000004\n\n\n\n");

    // Aligned big-endian: the block starts at the next word address.
    CodeImage aligned;
    auto a = record("2.1.3", {12, 0, 0, 0, 2, 1, 0, 3, 0x11, 0x22, 0x33, 0x44}, 0);
    size_t markerEnd = a.size() - 12;
    size_t pad = (4 - (0x100 + markerEnd) % 4) % 4;
    a = record("2.1.3", {12, 0, 0, 0, 2, 1, 0, 3, 0x11, 0x22, 0x33, 0x44}, pad);
    CodeAddData(aligned, 0x100, static_cast<uint32_t>(a.size()), a.data());
    EXPECT_NE(CodeInfo(aligned).find("    Flags: 11223344\n\n"), std::string::npos) << CodeInfo(aligned);

    // A version text that is not three numbers still shows the texts.
    CodeImage shortVersion;
    auto s = record("1.2", {9, 3, 0, 2, 1, 4, 0, 0, 0}, 0);
    CodeAddData(shortVersion, 0, static_cast<uint32_t>(s.size()), s.data());
    std::string info = CodeInfo(shortVersion);
    EXPECT_NE(info.find("      Ver: 1.2"), std::string::npos);
    EXPECT_EQ(info.find("Flags"), std::string::npos);

    CodeImage none;
    uint8_t plain[] = {' ', '*', '*', 0};
    CodeAddData(none, 0, 4, plain);
    EXPECT_EQ(CodeInfo(none), "\n\n");
}
