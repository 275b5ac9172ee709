#include "dump.hpp"

#include <algorithm>
#include <cstdio>
#include <span>
#include <string>
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

bool LoadIntelHex(TargetMemory& memory, const std::string& path, std::string& error) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        error = "can't read " + path;
        return false;
    }
    char line[600];
    uint32_t upper = 0;
    int number = 0;
    bool ok = true;
    auto hex = [](const char* p, int digits) {
        unsigned value = 0;
        for (int i = 0; i < digits; ++i) {
            char c = p[i];
            int d = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
            if (d < 0) return -1;
            value = value * 16 + static_cast<unsigned>(d);
        }
        return static_cast<int>(value);
    };
    while (ok && std::fgets(line, sizeof line, file)) {
        ++number;
        std::string text = line;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        if (text.empty()) continue;
        int count = text.size() >= 11 && text[0] == ':' ? hex(&text[1], 2) : -1;
        if (count < 0 || text.size() != 11u + 2u * static_cast<unsigned>(count)) {
            ok = false;
            break;
        }
        std::vector<uint8_t> bytes;
        for (size_t i = 1; i + 1 < text.size(); i += 2) {
            int b = hex(&text[i], 2);
            if (b < 0) ok = false;
            bytes.push_back(static_cast<uint8_t>(b));
        }
        uint8_t sum = 0;
        for (uint8_t b : bytes) sum = static_cast<uint8_t>(sum + b);
        if (!ok || sum != 0) {
            ok = false;
            break;
        }
        const uint32_t offset = static_cast<uint32_t>(bytes[1] << 8 | bytes[2]);
        const uint8_t type = bytes[3];
        std::span<const uint8_t> data(bytes.data() + 4, static_cast<size_t>(count));
        if (type == 0x00) {
            uint32_t where = 0;
            if (memory.Write(upper + offset, data, where) != WriteResult::Ok) {
                error = path + ": line " + std::to_string(number) + ": not erased or outside the memory";
                std::fclose(file);
                return false;
            }
        } else if (type == 0x01) {
            break;
        } else if (type == 0x02 && count == 2) {
            upper = static_cast<uint32_t>(data[0] << 8 | data[1]) << 4;
        } else if (type == 0x04 && count == 2) {
            upper = static_cast<uint32_t>(data[0] << 8 | data[1]) << 16;
        }
    }
    std::fclose(file);
    if (!ok) error = path + ": line " + std::to_string(number) + ": not an Intel HEX record";
    return ok;
}
