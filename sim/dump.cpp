#include "dump.hpp"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

void AppendRecord(std::string& out, uint8_t type, uint16_t offset, const uint8_t* data, size_t length) {
    char field[16];
    uint8_t sum = static_cast<uint8_t>(length + (offset >> 8) + (offset & 0xFF) + type);
    std::snprintf(field, sizeof field, ":%02X%04X%02X", static_cast<unsigned>(length), offset, type);
    out += field;
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(field, sizeof field, "%02X", data[i]);
        out += field;
        sum = static_cast<uint8_t>(sum + data[i]);
    }
    std::snprintf(field, sizeof field, "%02X\r\n", static_cast<uint8_t>(-sum));
    out += field;
}

bool WriteWhole(const std::string& path, const void* data, size_t size) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    // An empty image has no buffer behind it: fwrite() must not see its null pointer.
    bool ok = size == 0 || std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}

}  // namespace

std::string IntelHexText(const TargetMemory& memory) {
    constexpr uint64_t kRecordBytes = 16;
    std::string out;
    uint32_t upper = 0;  // the reader starts with linear address 0
    uint8_t data[kRecordBytes];
    for (const auto& [start, end] : memory.WrittenRanges()) {
        uint64_t address = start;
        while (address < end) {
            // A record must not run over a 64 KiB boundary: its offset field is 16 bits.
            uint64_t segmentEnd = (address | 0xFFFF) + 1;
            size_t length = static_cast<size_t>(std::min({end - address, kRecordBytes, segmentEnd - address}));
            uint32_t high = static_cast<uint32_t>(address >> 16);
            if (high != upper) {
                uint8_t ela[2] = {static_cast<uint8_t>(high >> 8), static_cast<uint8_t>(high)};
                AppendRecord(out, 0x04, 0, ela, 2);
                upper = high;
            }
            for (size_t i = 0; i < length; ++i) data[i] = memory.At(static_cast<uint32_t>(address + i));
            AppendRecord(out, 0x00, static_cast<uint16_t>(address), data, length);
            address += length;
        }
    }
    AppendRecord(out, 0x01, 0, nullptr, 0);
    return out;
}

bool DumpIntelHex(const TargetMemory& memory, const std::string& path) {
    std::string text = IntelHexText(memory);
    return WriteWhole(path, text.data(), text.size());
}

bool DumpBinary(const TargetMemory& memory, const std::string& path) {
    std::vector<uint8_t> bytes;
    const auto& ranges = memory.WrittenRanges();
    if (!ranges.empty()) {
        uint64_t end = ranges.rbegin()->second;
        bytes.reserve(static_cast<size_t>(end - memory.Base()));
        for (uint64_t a = memory.Base(); a < end; ++a) bytes.push_back(memory.At(static_cast<uint32_t>(a)));
    }
    return WriteWhole(path, bytes.data(), bytes.size());
}
