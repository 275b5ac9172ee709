#include "drivers/lpc/uuencode.hpp"

namespace {
// Six bits to a character: 0 is '`' rather than a blank, which some line handlers
// would strip; 1 to 63 are the characters 33 to 95.
char UuChar(unsigned bits) { return bits == 0 ? '`' : static_cast<char>(bits + 32); }
}  // namespace

std::string UuEncodeLine(const uint8_t* data, size_t count) {
    std::string line;
    line.reserve(2 + (count + 2) / 3 * 4 + 2);
    line += static_cast<char>(count + 32);
    for (size_t i = 0; i < count; i += 3) {
        uint32_t group = uint32_t{data[i]} << 16;
        if (i + 1 < count) group |= uint32_t{data[i + 1]} << 8;
        if (i + 2 < count) group |= data[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) line += UuChar((group >> shift) & 0x3F);
    }
    line += "\r\n";
    return line;
}

bool UuDecodeLine(const std::string& line, std::vector<uint8_t>& out) {
    if (line.empty()) return false;
    auto bits = [](char c) { return static_cast<unsigned>(c - 32) & 0x3F; };
    for (char c : line)
        if (c < 32 || c > 96) return false;
    const size_t count = bits(line[0]);
    if (count > kUuLineBytes || line.size() != 1 + (count + 2) / 3 * 4) return false;
    for (size_t i = 0, at = 1; i < count; i += 3, at += 4) {
        uint32_t group = bits(line[at]) << 18 | bits(line[at + 1]) << 12 | bits(line[at + 2]) << 6 | bits(line[at + 3]);
        for (size_t k = 0; k < 3 && i + k < count; ++k) out.push_back(static_cast<uint8_t>(group >> (16 - 8 * k)));
    }
    return true;
}
