// Text of the simulator: printf-style text for its notes and for answers made of text,
// and the parsers of option values.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The whole text, however long: a note is never cut short.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Value parsers for option rows. Numbers: decimal, 0x hexadecimal or 0 octal, sizes with
// a K or M suffix. Hexadecimal bytes: "A2050B", "A2 05 0B", "A2:05:0B", "0xA2,0x05".
bool ParseU32(const std::string& text, uint32_t& value, uint64_t max = 0xFFFFFFFFu);
bool ParseHexBytes(const std::string& text, std::vector<uint8_t>& bytes);
