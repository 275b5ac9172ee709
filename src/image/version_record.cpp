#include "image/version_record.hpp"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {
constexpr uint8_t kStartMarker[5] = {' ', '*', '*', '*', 0};
constexpr size_t kTextLimit = 79;
constexpr size_t kEndMarkerLimit = 6;

// Reads the NUL-terminated text at `pos`, keeping at most `limit` characters; false
// when the record ends before the terminator. `pos` moves behind the terminator.
bool ReadText(const uint8_t* data, size_t length, size_t& pos, size_t limit, std::string& text) {
    text.clear();
    for (size_t i = pos; i < length; ++i) {
        if (data[i] == 0) {
            pos = i + 1;
            return true;
        }
        if (text.size() < limit) text += static_cast<char>(data[i]);
    }
    return false;
}

// "major.minor.build" as three decimal numbers; false when the text has fewer.
bool ParseVersion(const std::string& text, long numbers[3]) {
    const char* p = text.c_str();
    for (int i = 0; i < 3; ++i) {
        if (*p < '0' || *p > '9') return false;
        char* end;
        numbers[i] = strtol(p, &end, 10);
        p = end;
        if (i < 2) {
            if (*p != '.') return false;
            ++p;
        }
    }
    return true;
}

struct Placement {
    size_t major, minor, buildHigh, buildLow;  // offsets from the block start
    bool bigEndian;
    bool aligned;
};

// Firmware builds place the block either packed behind the end marker or at the next
// word boundary, in the byte order of the target.
constexpr Placement kPlacements[] = {
    {4, 3, 2, 1, false, false},
    {1, 2, 3, 4, true, false},
    {7, 6, 5, 4, false, true},
    {4, 5, 6, 7, true, true},
};

void MatchVersionBlock(const CodeImage& image, const CodeRecord& record, size_t blockOffset, const long version[3],
                       uint32_t& flags) {
    const uint8_t* data = CodeData(image, record);
    auto byteAt = [&](size_t offset, int& out) {
        if (offset >= record.length) return false;
        out = data[offset];
        return true;
    };
    for (const Placement& p : kPlacements) {
        size_t block = blockOffset;
        if (p.aligned) {
            uint32_t address = record.address + static_cast<uint32_t>(blockOffset);
            block += (4 - address % 4) % 4;
        }
        int size, major, minor, hi, lo;
        if (!byteAt(block, size) || !byteAt(block + p.major, major) || !byteAt(block + p.minor, minor) ||
            !byteAt(block + p.buildHigh, hi) || !byteAt(block + p.buildLow, lo))
            continue;
        if (major != version[0] || minor != version[1] || hi * 256 + lo != version[2]) continue;
        size_t flagsAt = 0;
        if (p.aligned && size % 4 == 0 && size > 8)
            flagsAt = block + 8;
        else if (size > 5)
            flagsAt = block + 5;
        if (flagsAt != 0 && flagsAt + 4 <= record.length) {
            const uint8_t* f = data + flagsAt;
            uint32_t le = f[0] | f[1] << 8 | f[2] << 16 | uint32_t{f[3]} << 24;
            flags = p.bigEndian ? __builtin_bswap32(le) : le;
        }
        return;
    }
}
}  // namespace

void CodeInfoPrint(CodeImage& image, FILE* out) {
    CodeCompact(image);
    uint32_t flags = 0;
    std::string id, version, copyright, date, endMarker;
    for (const CodeRecord& record : image.records) {
        const uint8_t* data = CodeData(image, record);
        const size_t length = record.length;
        for (size_t pos = 0; pos < length; ++pos) {
            if (data[pos] != ' ' || length - pos <= 4 || memcmp(data + pos, kStartMarker, 5) != 0) continue;
            size_t at = pos + 5;
            if (!ReadText(data, length, at, kTextLimit, id) || !ReadText(data, length, at, kTextLimit, version) ||
                !ReadText(data, length, at, kTextLimit, copyright) || !ReadText(data, length, at, kTextLimit, date) ||
                !ReadText(data, length, at, kEndMarkerLimit, endMarker))
                break;  // the record ends inside the texts
            if (endMarker != "***") continue;
            long numbers[3];
            // A version text that is not major.minor.build cannot be looked up in the
            // block; the texts are still shown.
            if (ParseVersion(version, numbers)) MatchVersionBlock(image, record, at, numbers, flags);
            if (!id.empty()) fprintf(out, "\n       ID: %s", id.c_str());
            if (!version.empty()) fprintf(out, "\n      Ver: %s", version.c_str());
            if (!date.empty()) fprintf(out, "\n     Date: %s", date.c_str());
            if (!copyright.empty()) fprintf(out, "\nCopyright: %s", copyright.c_str());
            if (flags != 0) fprintf(out, "\n    Flags: %.8X", flags);
            fputs("\n\n", out);
            pos = at - 1;  // go on behind the end marker
        }
    }
    fputs("\n\n", out);
    fflush(out);
}
