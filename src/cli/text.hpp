// Small text helpers shared across the modules.
#pragma once

#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>

// Commands, switches and keywords are matched without regard to case: they are
// compared in upper case.
inline std::string UpperCase(std::string text) {
    for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return text;
}

// Copies at most `maxChars` characters of `from` into the `size` bytes at `to`; what
// does not fit is cut off, and the copy is always terminated.
inline void CopyCut(char* to, size_t size, const char* from, size_t maxChars = SIZE_MAX) {
    size_t n = strnlen(from, maxChars < size - 1 ? maxChars : size - 1);
    memcpy(to, from, n);
    to[n] = '\0';
}
