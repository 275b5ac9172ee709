// Block-buffered byte input and text output for the code file readers and writers:
// large files are parsed from 64 KiB blocks instead of one stdio call per character.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "image/code_formats.hpp"
#include "platform/files.hpp"

namespace codeio {

class ByteSource {
public:
    explicit ByteSource(FILE* stream) : stream_(stream) {}
    size_t lineNumber = 0;  // lines a text reader has begun, counted from 1
    ByteSource(const ByteSource&) = delete;
    ByteSource& operator=(const ByteSource&) = delete;

    // The next byte, or -1 at the end of the stream.
    int Get() {
        if (pos_ == len_ && !Fill()) return -1;
        return buffer_[pos_++];
    }
    int Peek() {
        if (pos_ == len_ && !Fill()) return -1;
        return buffer_[pos_];
    }

    // Bytes buffered and not yet taken; Take() moves past `count` of them.
    const unsigned char* Buffered(size_t& count) const {
        count = len_ - pos_;
        return buffer_ + pos_;
    }
    void Take(size_t count) { pos_ += count; }

private:
    bool Fill() {
        len_ = fread(buffer_, 1, sizeof buffer_, stream_);
        pos_ = 0;
        return len_ > 0;
    }
    FILE* stream_;
    size_t pos_ = 0;
    size_t len_ = 0;
    unsigned char buffer_[65536];
};

// Bytes left in a regular file from its current position; 0 when unknown.
inline size_t RemainingSize(FILE* stream) {
    uint64_t size = 0;
    if (!RegularFileSize(stream, size)) return 0;
    long pos = ftell(stream);
    if (pos < 0 || size < static_cast<uint64_t>(pos)) return 0;
    return static_cast<size_t>(size - static_cast<uint64_t>(pos));
}

inline constexpr char kHexDigits[] = "0123456789ABCDEF";

// Value of a hexadecimal digit of either case, or 0xFF.
struct HexTable {
    uint8_t value[256];
    constexpr HexTable() : value() {
        for (int i = 0; i < 256; ++i) value[i] = 0xFF;
        for (int i = 0; i < 10; ++i) value['0' + i] = static_cast<uint8_t>(i);
        for (int i = 0; i < 6; ++i) {
            value['A' + i] = static_cast<uint8_t>(10 + i);
            value['a' + i] = static_cast<uint8_t>(10 + i);
        }
    }
};
inline constexpr HexTable kHexValue{};

// Parses `digits` hex digits at `text`; false when one of them is not a hex digit.
inline bool ParseHex(const char* text, int digits, uint32_t& out) {
    uint32_t v = 0;
    for (int i = 0; i < digits; ++i) {
        uint8_t d = kHexValue.value[static_cast<unsigned char>(text[i])];
        if (d == 0xFF) return false;
        v = (v << 4) | d;
    }
    out = v;
    return true;
}

// Decodes `count` bytes from hex digit pairs; false on a non-hex digit.
inline bool ParseHexBytes(const char* text, size_t count, uint8_t* out) {
    const unsigned char* t = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; i < count; ++i) {
        uint8_t hi = kHexValue.value[t[2 * i]];
        uint8_t lo = kHexValue.value[t[2 * i + 1]];
        if ((hi | lo) & 0xF0) return false;
        out[i] = static_cast<uint8_t>((hi << 4) | lo);
    }
    return true;
}

class TextSink {
public:
    explicit TextSink(FILE* stream) : stream_(stream) {}
    ~TextSink() { Flush(); }
    TextSink(const TextSink&) = delete;
    TextSink& operator=(const TextSink&) = delete;

    void Put(char c) {
        if (len_ == sizeof buffer_) Flush();
        buffer_[len_++] = c;
    }
    void Put(const char* text) {
        while (*text) Put(*text++);
    }
    void Write(const void* data, size_t count) {
        if (len_ + count > sizeof buffer_) Flush();
        if (count >= sizeof buffer_) {
            fwrite(data, 1, count, stream_);
            return;
        }
        memcpy(buffer_ + len_, data, count);
        len_ += count;
    }
    // `digits` upper-case hex digits of the value.
    void Hex(uint32_t value, int digits) {
        if (len_ + 8 > sizeof buffer_) Flush();
        for (int i = digits - 1; i >= 0; --i) buffer_[len_++] = kHexDigits[(value >> (4 * i)) & 15];
    }
    void HexBytes(const uint8_t* data, size_t count) {
        while (count > 0) {
            if (len_ + 2 > sizeof buffer_) Flush();
            size_t room = (sizeof buffer_ - len_) / 2;
            size_t n = count < room ? count : room;
            char* out = buffer_ + len_;
            for (size_t i = 0; i < n; ++i) {
                out[2 * i] = kHexDigits[data[i] >> 4];
                out[2 * i + 1] = kHexDigits[data[i] & 15];
            }
            len_ += 2 * n;
            data += n;
            count -= n;
        }
    }
    void Flush() {
        if (len_) fwrite(buffer_, 1, len_, stream_);
        len_ = 0;
    }

private:
    FILE* stream_;
    size_t len_ = 0;
    char buffer_[65536];
};

enum LineResult {
    LINE_OK,        // a line; the last one of a file may end without a line end
    LINE_EOF,       // the stream ended cleanly, before the first character of a line
    LINE_CUT,       // the byte 0xFF: the stream is cut off there
    LINE_EMPTY,     // an end of line with nothing in front of it
    LINE_FULL,      // `limit` characters taken without an end of line
};

// Reads one text line of a code file; `text` points to it, either inside the
// source's buffer or into `line` (room for `limit` characters), valid until the next
// read. The byte 0xFF counts as a cut-off end of file, as it did on systems whose
// readers compared a plain char with EOF. A line ends at CR or LF, or at the end of
// the stream (many editors write the last line without a line end). The CRs and at
// most one LF directly behind belong to the same line end (CR LF, LF CR, and CR CR LF
// from text written twice through a CR LF translation). A second LF starts the next
// line, which is then empty (LINE_EMPTY): blank lines inside a code file are damage.
// Reading stops without an end of line when `limit` characters were taken (LINE_FULL).
inline LineResult ReadCodeLine(ByteSource& source, char* line, size_t limit, size_t& length, const char*& text) {
    CodeSetImportLine(++source.lineNumber);
    length = 0;
    text = line;
    // Fast path: the whole line and its line end lie in the buffer.
    size_t avail;
    const unsigned char* p = source.Buffered(avail);
    if (avail > limit + 1) {
        size_t n = 0;
        while (n < limit && p[n] != '\r' && p[n] != '\n' && p[n] != 0xFF) ++n;
        if (n > 0 && n < limit && p[n] != 0xFF) {
            bool lf = p[n] == '\n';
            size_t end = n + 1;
            while (end < avail && (p[end] == '\r' || (p[end] == '\n' && !lf))) lf |= p[end++] == '\n';
            if (end < avail) {
                text = reinterpret_cast<const char*>(p);
                length = n;
                source.Take(end);
                return LINE_OK;
            }
        }
    }
    for (;;) {
        if (length == limit) return LINE_FULL;
        int c = source.Get();
        if (c < 0) return length == 0 ? LINE_EOF : LINE_OK;
        if (c == 0xFF) return LINE_CUT;
        if (c == '\r' || c == '\n') {
            bool lf = c == '\n';
            for (int n = source.Peek(); n == '\r' || (n == '\n' && !lf); n = source.Peek()) lf |= source.Get() == '\n';
            return length == 0 ? LINE_EMPTY : LINE_OK;
        }
        line[length++] = static_cast<char>(c);
    }
}

}  // namespace codeio
