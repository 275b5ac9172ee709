// The boot ROM's data lines: UU encoding with '`' for the value 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr size_t kUuLineBytes = 45;  // data bytes of a full line

// One data line of up to 45 bytes: a count character (count + 32), four characters
// for every three bytes (the last group padded with zero bytes), CR LF.
std::string UuEncodeLine(const uint8_t* data, size_t count);
