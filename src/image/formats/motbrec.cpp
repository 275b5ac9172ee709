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

// Judges one line as read and appends its record; a status other than 0 is damage.
int AddLine(CodeImage& image, const char* line, size_t len) {
    // Short lines are noise; a longer one ends at its first separator.
    if (len <= 9) return CODE_OK;
    size_t end = 0;
    while (end < len && line[end] > '/') ++end;
    len = end;
    if (len == 0) return CODE_OK;
    if (len % 2 != 0) return CODE_ERR_LINE_LENGTH;
    uint32_t address, count;
    if (len < 10 || !ParseHex(line, 8, address) || !ParseHex(line + 8, 2, count)) return CODE_ERR_RECORD_LENGTH;
    if (len != 2 * size_t{count} + 10) return CODE_ERR_RECORD_LENGTH;
    // The image is a 32-bit address space: a record must not wrap onto address 0.
    if (uint64_t{address} + count > 0x100000000) return CODE_ERR_RECORD_LENGTH;
    uint8_t bytes[256];
    ParseHexBytes(line + 10, count, bytes);
    CodeAddData(image, address, count, bytes);
    return CODE_OK;
}
}  // namespace

int MotBRecImport(FILE* stream, CodeImage& image, int format) {
    if (format != FORMAT_NONE && format != FORMAT_MOTBREC) return CODE_ERR_FORMAT;
    ByteSource source(stream);
    char line[kLineLimit + 1];
    for (;;) {
        size_t len = 0;     // characters stored
        size_t taken = 0;   // characters counted against the line limit
        bool ended = false;  // the file ends with this line, with or without a line end
        CodeSetImportLine(++source.lineNumber);
        for (;;) {
            int c = source.Get();
            // The byte 0xFF cuts the file off: a partly read line is dropped.
            if (c == 0xFF) return CODE_OK;
            if (c < 0) {
                ended = true;
                break;
            }
            if (IsSeparator(c)) {
                line[len++] = static_cast<char>(c);
                ++taken;
                // Skip the comment up to the next character at or below '/'.
                for (int n = source.Peek(); n > '/'; n = source.Peek()) {
                    if (n == 0xFF) return CODE_OK;
                    source.Get();
                }
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
        int status = AddLine(image, line, len);
        if (status != CODE_OK) return Fail(image, status);
        if (ended) return CODE_OK;
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
