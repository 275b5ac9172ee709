// Raw binary: the file is the bytes from address 0 on, with no addresses of its own.
#include <algorithm>

#include "image/code_formats.hpp"
#include "image/formats/stream_io.hpp"

int BinaryImport(FILE* stream, CodeImage& image, int format) {
    if (format != FORMAT_NONE && format != FORMAT_BINARY) return CODE_ERR_FORMAT;
    size_t expected = codeio::RemainingSize(stream);
    CodeRecord record;
    record.offset = image.store.size();
    image.store.reserve(record.offset + expected);
    size_t total = 0;
    for (;;) {
        size_t chunk = std::max<size_t>(expected - std::min(expected, total), 65536);
        image.store.resize(record.offset + total + chunk);
        size_t got = fread(image.store.data() + record.offset + total, 1, chunk, stream);
        total += got;
        if (got < chunk) break;
    }
    image.store.resize(record.offset + total);
    if (total == 0) return CODE_ERR_UNKNOWN;
    // The image counts bytes in 32 bits.
    if (total > 0x7FFFFFFF) {
        CodeFree(image);
        return CODE_ERR_RECORD_LENGTH;
    }
    image.entryAddress = 0;
    record.address = 0;
    record.length = static_cast<uint32_t>(total);
    CodeAppend(image, record);
    return CODE_OK;
}

void WriteFlatImage(FILE* stream, const CodeImage& image, uint8_t fill) {
    CodeRejectOverlaps(image);
    codeio::TextSink out(stream);
    uint8_t gapBytes[4096];
    memset(gapBytes, fill, sizeof gapBytes);
    for (size_t i = 0; i < image.records.size(); ++i) {
        const CodeRecord& r = image.records[i];
        if (i > 0) {
            const CodeRecord& p = image.records[i - 1];
            for (uint64_t gap = r.address - (uint64_t{p.address} + p.length); gap > 0;) {
                size_t n = static_cast<size_t>(std::min<uint64_t>(gap, sizeof gapBytes));
                out.Write(gapBytes, n);
                gap -= n;
            }
        }
        out.Write(CodeData(image, r), r.length);
    }
}

int BinaryExport(FILE* stream, CodeImage& image, int format) {
    if (format != FORMAT_NONE && format != FORMAT_BINARY) return CODE_ERR_FORMAT;
    WriteFlatImage(stream, image, 0x00);
    return CODE_OK;
}
