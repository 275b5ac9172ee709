#include "text.hpp"

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<size_t>(length));
        // vsnprintf writes the terminating NUL too: one byte past size() is the string's own.
        std::vsnprintf(text.data(), text.size() + 1, format, again);
    }
    va_end(again);
    return text;
}

namespace {
bool ParseNumber(const std::string& text, uint64_t max, uint64_t& value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno || end == text.c_str() || text[0] == '-') return false;
    // Sizes may carry a binary suffix: 64K, 1M.
    if (*end == 'k' || *end == 'K') {
        v <<= 10;
        ++end;
    } else if (*end == 'm' || *end == 'M') {
        v <<= 20;
        ++end;
    }
    if (*end || v > max) return false;
    value = v;
    return true;
}
}  // namespace

bool ParseU32(const std::string& text, uint32_t& value, uint64_t max) {
    uint64_t v = 0;
    if (!ParseNumber(text, max, v)) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

bool ParseHexBytes(const std::string& text, std::vector<uint8_t>& bytes) {
    bytes.clear();
    std::string digits;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == ' ' || c == ',' || c == ':') {
            if (digits.size() % 2) return false;
            continue;
        }
        if (c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') && digits.size() % 2 == 0) {
            ++i;
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        digits += c;
    }
    if (digits.empty() || digits.size() % 2) return false;
    for (size_t i = 0; i < digits.size(); i += 2) bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return true;
}
