// The boot ROM's data lines: UU encoding with '`' for the value 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr size_t kUuLineBytes = 45;  // data bytes of a full line

// One data line of up to 45 bytes: a count character (count + 32), four characters
// for every three bytes (the last group padded with zero bytes), CR LF.
std::string UuEncodeLine(const uint8_t* data, size_t count);

// Appends the bytes of one data line (without its line end) to `out`; false for a line
// that is not a well-formed UU line (a blank counts as the value 0, as '`' does).
bool UuDecodeLine(const std::string& line, std::vector<uint8_t>& out);
