// Motorola S-record reader and writer.
#include <algorithm>
#include <cstring>

#include "image/code_formats.hpp"
#include "image/formats/stream_io.hpp"

using namespace codeio;

namespace {
// The longest record: "S" + type + count 255 as hex pairs.
constexpr size_t kLineLimit = 4 + 2 * 255;

int Fail(CodeImage& image, int status) {
    CodeFree(image);
    return status;
}

// Hex digits of the address field by record type; 0 for types this reader refuses
// (S4 and the 24-bit count S6).
int AddressDigits(uint32_t type) {
    switch (type) {
    case 0: case 1: case 5: case 9: return 4;
    case 2: case 8: return 6;
    case 3: case 7: return 8;
    default: return 0;
    }
}

int RecordTypeFor(int format) {
    switch (format) {
    case FORMAT_MOTSREC24: return 2;
    case FORMAT_MOTSREC32: return 3;
    default: return 1;
    }
}

// Highest address a record type can carry: 0xFFFF for S1, 0xFFFFFF for S2, else 0xFFFFFFFF.
uint32_t SRecordAddressLimit(int format) {
    switch (RecordTypeFor(format)) {
    case 1: return 0xFFFF;
    case 2: return 0xFFFFFF;
    default: return 0xFFFFFFFF;
    }
}
}  // namespace

int SRecordImport(FILE* stream, CodeImage& image, int format) {
    if (format != FORMAT_NONE && format != FORMAT_MOTSREC && format != FORMAT_MOTSREC24 &&
        format != FORMAT_MOTSREC32)
        return CODE_ERR_FORMAT;
    ByteSource source(stream);
    char buffer[kLineLimit + 2];
    uint8_t bytes[256];
    uint32_t dataRecords = 0;
    // A file may end after a record count that confirms every data record instead of
    // with a terminator (tools write it so when they know no start address); a file
    // that stops anywhere else was cut short.
    bool countConfirmsAll = false;
    for (;;) {
        size_t len = 0;
        const char* line = nullptr;
        switch (ReadCodeLine(source, buffer, kLineLimit + 1, len, line)) {
        case LINE_EOF: return countConfirmsAll ? CODE_OK : Fail(image, CODE_ERR_EOF);
        case LINE_CUT: return Fail(image, CODE_ERR_EOF);
        case LINE_EMPTY: return Fail(image, CODE_ERR_LINE_LENGTH);
        case LINE_FULL: return Fail(image, CODE_ERR_LINE_OVERFLOW);  // longer than any record
        case LINE_OK: break;
        }
        if (len % 2 != 0) return Fail(image, CODE_ERR_LINE_LENGTH);
        if (line[0] != 'S') return Fail(image, CODE_ERR_DATA);
        if (len < 4) return Fail(image, CODE_ERR_LINE_LENGTH);
        uint32_t type, count;
        if (!ParseHex(line + 1, 1, type) || !ParseHex(line + 2, 2, count)) return Fail(image, CODE_ERR_DATA);
        int digits = AddressDigits(type);
        if (digits == 0) return Fail(image, CODE_ERR_RECORD_TYPE);
        uint32_t addressBytes = static_cast<uint32_t>(digits / 2);
        if (count < addressBytes + 1) return Fail(image, CODE_ERR_RECORD_LENGTH);
        // A count that reaches beyond the line would invent bytes; characters behind the
        // checksum are not part of the record.
        if (len < 4 + 2 * size_t{count}) return Fail(image, CODE_ERR_RECORD_LENGTH);
        uint32_t dataCount = count - addressBytes - 1;
        uint32_t address;
        if (!ParseHex(line + 4, digits, address) || !ParseHexBytes(line + 4, count, bytes))
            return Fail(image, CODE_ERR_DATA);
        // Ones' complement of the sum of the count, address and data bytes.
        uint32_t sum = count;
        for (uint32_t i = 0; i + 1 < count; ++i) sum += bytes[i];
        if (((~sum) & 0xFF) != bytes[count - 1]) return Fail(image, CODE_ERR_CHECKSUM);
        const uint8_t* data = bytes + addressBytes;
        countConfirmsAll = false;
        switch (type) {
        case 0:
            if (dataCount > 0)
                image.name = std::string(reinterpret_cast<const char*>(data),
                                         strnlen(reinterpret_cast<const char*>(data), dataCount));
            break;
        case 1:
        case 2:
        case 3:
            // The image is a 32-bit address space: a record must not wrap onto address 0.
            if (uint64_t{address} + dataCount > 0x100000000) return Fail(image, CODE_ERR_RECORD_LENGTH);
            if (dataCount > 0) {
                CodeAddData(image, address, dataCount, data);
                ++dataRecords;
            }
            break;
        case 5: countConfirmsAll = address == (dataRecords & 0xFFFF); break;
        default:  // 7, 8, 9: terminator with the start address
            if (dataCount != 0) return Fail(image, CODE_ERR_RECORD_LENGTH);
            image.entryAddress = address;
            return CODE_OK;
        }
    }
}

int SRecordExport(FILE* stream, CodeImage& image, int format) {
    if (format != FORMAT_NONE && format != FORMAT_MOTSREC && format != FORMAT_MOTSREC24 &&
        format != FORMAT_MOTSREC32)
        return CODE_ERR_FORMAT;
    int type = RecordTypeFor(format);
    uint32_t limit = SRecordAddressLimit(format);
    // An address that does not fit the record type would be written cut short.
    if (image.entryAddress > limit) return CODE_ERR_DATA;
    for (const CodeRecord& r : image.records)
        if (uint64_t{r.address} + r.length - 1 > limit) return CODE_ERR_DATA;

    TextSink out(stream);
    if (image.name) {
        size_t n = std::min<size_t>(image.name->size(), 252);
        const uint8_t* text = reinterpret_cast<const uint8_t*>(image.name->data());
        uint32_t sum = static_cast<uint32_t>(n) + 3;
        for (size_t i = 0; i < n; ++i) sum += text[i];
        out.Put("S0");
        out.Hex(static_cast<uint32_t>(n) + 3, 2);
        out.Put("0000");
        out.HexBytes(text, n);
        out.Hex(~sum & 0xFF, 2);
    } else {
        out.Put("S0030000FC");
    }
    int addressBytes = type + 1;
    for (const CodeRecord& r : image.records) {
        // The count byte covers address, data and checksum: S3 lines carry at most 250
        // data bytes, S1 lines 252.
        uint32_t count = r.length + static_cast<uint32_t>(addressBytes) + 1;
        if (r.length > 255 || count > 255) return CODE_ERR_RECORD_LENGTH;
        uint32_t sum = count;
        for (int i = 0; i < addressBytes; ++i) sum += (r.address >> (8 * i)) & 0xFF;
        const uint8_t* data = CodeData(image, r);
        for (uint32_t i = 0; i < r.length; ++i) sum += data[i];
        out.Put("\r\nS");
        out.Hex(static_cast<uint32_t>(type), 1);
        out.Hex(count, 2);
        out.Hex(r.address, 2 * addressBytes);
        out.HexBytes(data, r.length);
        out.Hex(~sum & 0xFF, 2);
    }
    uint32_t sum = static_cast<uint32_t>(addressBytes) + 1;
    for (int i = 0; i < addressBytes; ++i) sum += (image.entryAddress >> (8 * i)) & 0xFF;
    out.Put("\r\nS");
    out.Hex(static_cast<uint32_t>(10 - type), 1);
    out.Hex(static_cast<uint32_t>(addressBytes) + 1, 2);
    out.Hex(image.entryAddress, 2 * addressBytes);
    out.Hex(~sum & 0xFF, 2);
    out.Put("\r\n");
    return CODE_OK;
}
