// Intel HEX reader and writer.
#include <algorithm>

#include "image/code_formats.hpp"
#include "image/formats/stream_io.hpp"

using namespace codeio;

namespace {
// A line holds at most 255 characters; one of exactly 255 is taken as cut off.
constexpr size_t kLineLimit = 256;

int Fail(CodeImage& image, int status) {
    if (status != CODE_ERR_LINE_OVERFLOW) CodeFree(image);
    return status;
}

// Reading a large file record by record: reserve what the file can hold at most
// (two characters per data byte, one record per 14 characters of a data line). The
// reservation is address space only; untouched pages cost no memory.
void ReserveFor(FILE* stream, CodeImage& image) {
    size_t remaining = RemainingSize(stream);
    if (remaining == 0) return;
    image.store.reserve(image.store.size() + remaining / 2);
    image.records.reserve(image.records.size() + remaining / 14 + 1);
}
}  // namespace

int IntelHexImport(FILE* stream, CodeImage& image, int format) {
    if (format != FORMAT_NONE && format != FORMAT_INTELHEX) return CODE_ERR_FORMAT;
    image.entryAddress = 0;
    uint32_t segmentBase = 0;
    ByteSource source(stream);
    char buffer[kLineLimit + 1];
    bool reserved = false;
    for (;;) {
        size_t len = 0;
        const char* line = nullptr;
        switch (ReadCodeLine(source, buffer, kLineLimit, len, line)) {
        case LINE_EOF:
        case LINE_CUT: return Fail(image, CODE_ERR_EOF);
        case LINE_EMPTY: return Fail(image, CODE_ERR_LINE_LENGTH);
        case LINE_OK:
        case LINE_FULL: break;
        }
        // ':' + pairs of digits is always odd; a line cut at the buffer size is even.
        if (len % 2 == 0) return Fail(image, CODE_ERR_LINE_LENGTH);
        if (len == kLineLimit - 1) return Fail(image, CODE_ERR_LINE_OVERFLOW);
        if (line[0] != ':') return Fail(image, CODE_ERR_DATA);
        if (len < 11) return Fail(image, CODE_ERR_LINE_LENGTH);
        uint32_t count, offset, type;
        if (!ParseHex(line + 1, 2, count) || !ParseHex(line + 3, 4, offset) || !ParseHex(line + 7, 2, type))
            return Fail(image, CODE_ERR_DATA);
        if (type > 5) return Fail(image, CODE_ERR_RECORD_TYPE);
        // The count must match the line: a damaged count would otherwise drop or
        // invent bytes.
        if (len != 11 + 2 * size_t{count}) return Fail(image, CODE_ERR_LINE_LENGTH);
        // A data record's bytes go straight into the image's store.
        uint8_t fields[kLineLimit / 2];
        uint8_t* data = fields;
        CodeRecord record;
        if (type == 0) {
            // The image is a 32-bit address space: a record must not run past its end
            // and wrap onto address 0.
            if (uint64_t{segmentBase} + offset + count > 0x100000000) return Fail(image, CODE_ERR_RECORD_LENGTH);
            if (!reserved) {
                ReserveFor(stream, image);
                reserved = true;
            }
            record = CodeNewRecord(image, segmentBase + offset, count, nullptr);
            data = CodeData(image, record);
        }
        uint32_t checksum;
        if (!ParseHexBytes(line + 9, count, data) || !ParseHex(line + len - 2, 2, checksum))
            return Fail(image, CODE_ERR_DATA);
        // The checksum byte makes the low byte of the sum of all the record's bytes
        // zero: a digit damaged in transit must not reach the target's flash.
        uint32_t sum = count + (offset >> 8) + (offset & 0xFF) + type + checksum;
        for (uint32_t i = 0; i < count; ++i) sum += data[i];
        if (sum & 0xFF) return Fail(image, CODE_ERR_CHECKSUM);
        switch (type) {
        case 0: CodeAppend(image, record); break;
        case 1:
            if (count == 0 && offset == 0) return CODE_OK;
            return Fail(image, CODE_ERR_RECORD_TYPE);
        case 2:
        case 4:
            if (count < 2) return Fail(image, CODE_ERR_LINE_LENGTH);
            segmentBase = type == 2 ? uint32_t{data[0]} << 12 | uint32_t{data[1]} << 4
                                    : uint32_t{data[0]} << 24 | uint32_t{data[1]} << 16;
            break;
        case 3:
            // Start segment address CS:IP: the code starts at CS * 16 + IP.
            if (count < 4) return Fail(image, CODE_ERR_LINE_LENGTH);
            image.entryAddress = ((uint32_t{data[0]} << 8 | data[1]) << 4) + (uint32_t{data[2]} << 8 | data[3]);
            break;
        case 5:
            if (count < 4) return Fail(image, CODE_ERR_LINE_LENGTH);
            image.entryAddress = uint32_t{data[0]} << 24 | uint32_t{data[1]} << 16 | uint32_t{data[2]} << 8 | data[3];
            break;
        }
    }
}

namespace {
void WriteDataLine(TextSink& out, uint32_t offset, const uint8_t* data, uint32_t length) {
    uint32_t sum = length + (offset >> 8) + (offset & 0xFF);
    for (uint32_t i = 0; i < length; ++i) sum += data[i];
    out.Put(':');
    out.Hex(length, 2);
    out.Hex(offset, 4);
    out.Put("00");
    out.HexBytes(data, length);
    out.Hex((0x100 - (sum & 0xFF)) & 0xFF, 2);
    out.Put("\r\n");
}

// Extended segment (type 02) or extended linear (type 04) address record.
void WriteAddressLine(TextSink& out, uint32_t type, uint32_t value) {
    uint32_t sum = 2 + type + (value >> 8) + (value & 0xFF);
    out.Put(":020000");
    out.Hex(type, 2);
    out.Hex(value, 4);
    out.Hex((0x100 - (sum & 0xFF)) & 0xFF, 2);
    out.Put("\r\n");
}
}  // namespace

int IntelHexExport(FILE* stream, CodeImage& image, int format) {
    if (format != FORMAT_NONE && format != FORMAT_INTELHEX) return CODE_ERR_FORMAT;
    // Segment records reach 1 MiB only. An image with data at or above it is written
    // with extended linear address records throughout; smaller images keep the
    // segment records that older loaders expect.
    bool linear = false;
    for (const CodeRecord& r : image.records)
        if (uint64_t{r.address} + r.length > 0x100000) linear = true;
    TextSink out(stream);
    uint32_t upper = 0;
    for (const CodeRecord& r : image.records) {
        if (r.length > 255) return CODE_ERR_RECORD_LENGTH;
        const uint8_t* data = CodeData(image, r);
        if (!linear) {
            if (r.address + r.length - upper - 1 > 0xFFFF) {
                upper = r.address & 0xFFFF0000u;
                WriteAddressLine(out, 2, upper >> 4);
            }
            WriteDataLine(out, r.address - upper, data, r.length);
            continue;
        }
        // A data line must not run past the end of its 64 KiB page.
        for (uint32_t done = 0; done < r.length;) {
            uint32_t address = r.address + done;
            if ((address & 0xFFFF0000u) != upper) {
                upper = address & 0xFFFF0000u;
                WriteAddressLine(out, 4, upper >> 16);
            }
            uint32_t n = std::min<uint32_t>(r.length - done, 0x10000 - (address & 0xFFFF));
            WriteDataLine(out, address & 0xFFFF, data + done, n);
            done += n;
        }
    }
    out.Put(":00000001FF\r\n");
    return CODE_OK;
}
