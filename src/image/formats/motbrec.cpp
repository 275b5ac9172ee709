// MOTBREC: one record per line, eight hex digits address, two hex digits byte count,
// then the bytes as hex pairs; no header, terminator or checksum. Anything behind a
// separator (a blank, '#', '/', ...) is a comment.
#include "image/code_formats.hpp"
#include "image/formats/stream_io.hpp"

using namespace codeio;

namespace {
constexpr size_t kLineLimit = 256;

// The separators: 0x20 to 0x2F except the apostrophe and the comma.
bool IsSeparator(int c) { return c >= 0x20 && c <= 0x2F && c != '\'' && c != ','; }
bool IsStoredDigit(int c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

int Fail(CodeImage& image, int status) {
    CodeFree(image);
    return status;
}
}  // namespace

int MotBRecImport(FILE* stream, CodeImage& image, int format) {
    if (format != FORMAT_NONE && format != FORMAT_MOTBREC) return CODE_ERR_FORMAT;
    ByteSource source(stream);
    char line[kLineLimit + 1];
    uint8_t bytes[256];
    for (;;) {
        size_t len = 0;     // characters stored
        size_t taken = 0;   // characters counted against the line limit
        for (;;) {
            int c = source.Get();
            if (c < 0 || c == 0xFF) return CODE_OK;  // end of file; a partial line is dropped
            if (IsSeparator(c)) {
                line[len++] = static_cast<char>(c);
                ++taken;
                // Skip the comment up to the next character at or below '/'.
                for (int n = source.Peek(); n > '/'; n = source.Peek()) {
                    if (n == 0xFF) return CODE_OK;
                    source.Get();
                }
                if (source.Peek() < 0) return CODE_OK;
            } else if (c == '\r' || c == '\n') {
                for (int n = source.Peek(); n == '\r' || n == '\n'; n = source.Peek()) source.Get();
                break;
            } else if (c <= '/') {
                break;  // control character, apostrophe or comma: the line ends here
            } else {
                if (IsStoredDigit(c)) line[len++] = static_cast<char>(c);
                ++taken;
            }
            if (taken >= kLineLimit) break;
        }
        // Short lines are noise; a longer one ends at its first separator.
        if (len <= 9) continue;
        size_t end = 0;
        while (end < len && line[end] > '/') ++end;
        len = end;
        if (len == 0) continue;
        if (len % 2 != 0) return Fail(image, CODE_ERR_LINE_LENGTH);
        uint32_t address, count;
        if (len < 10 || !ParseHex(line, 8, address) || !ParseHex(line + 8, 2, count))
            return Fail(image, CODE_ERR_RECORD_LENGTH);
        if (len != 2 * size_t{count} + 10) return Fail(image, CODE_ERR_RECORD_LENGTH);
        ParseHexBytes(line + 10, count, bytes);
        CodeAddData(image, address, count, bytes);
    }
}

int MotBRecExport(FILE* stream, CodeImage& image, int format) {
    if (format != FORMAT_NONE && format != FORMAT_MOTBREC) return CODE_ERR_FORMAT;
    TextSink out(stream);
    for (const CodeRecord& r : image.records) {
        if (r.length > 255) return CODE_ERR_RECORD_LENGTH;
        out.Hex(r.address, 8);
        out.Hex(r.length, 2);
        out.HexBytes(CodeData(image, r), r.length);
        out.Put("\r\n");
    }
    return CODE_OK;
}
