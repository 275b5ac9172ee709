// Small text helpers shared across the modules.
#pragma once

#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// Commands, switches and keywords are matched without regard to case: they are
// compared in upper case.
inline std::string UpperCase(std::string text) {
    for (char& c : text) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return text;
}

// The text without white space at either end.
inline std::string Trimmed(const std::string& text) {
    size_t start = 0, end = text.size();
    while (start < end && isspace(static_cast<unsigned char>(text[start]))) ++start;
    while (end > start && isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    return text.substr(start, end - start);
}

inline std::string LowerCase(std::string text) {
    for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

// Copies at most `maxChars` characters of `from` into the `size` bytes at `to`; what
// does not fit is cut off, and the copy is always terminated.
inline void CopyCut(char* to, size_t size, const char* from, size_t maxChars = SIZE_MAX) {
    size_t n = strnlen(from, maxChars < size - 1 ? maxChars : size - 1);
    memcpy(to, from, n);
    to[n] = '\0';
}

// The fields of a comma-separated text, empty ones included ("a,,b" gives three; ""
// gives one empty field).
inline std::vector<std::string> SplitFields(const std::string& text, char separator = ',') {
    std::vector<std::string> fields;
    for (size_t at = 0;;) {
        size_t end = text.find(separator, at);
        fields.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
        if (end == std::string::npos) return fields;
        at = end + 1;
    }
}

// The pieces of `text` between any of the delimiter characters, empty ones skipped, as
// strtok takes them apart.
inline std::vector<std::string> Tokens(const std::string& text, const char* delimiters) {
    std::vector<std::string> tokens;
    size_t pos = 0;
    while ((pos = text.find_first_not_of(delimiters, pos)) != std::string::npos) {
        size_t end = text.find_first_of(delimiters, pos);
        tokens.push_back(text.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
        pos = end;
    }
    return tokens;
}
