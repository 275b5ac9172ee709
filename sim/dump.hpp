// Writes the programmed memory at the end of a simulation.
#pragma once

#include <string>

#include "memory.hpp"

// Intel HEX of the ranges written since the last erase: 16-byte data records, type 04
// extended linear address records where the upper 16 address bits change, upper-case
// hexadecimal, CR LF line ends, end-of-file record. Returns false when the file can't be written.
bool DumpIntelHex(const TargetMemory& memory, const std::string& path);

// Raw bytes from the flash base up to the last written byte (gaps read 0xFF); an empty
// file when nothing was written.
bool DumpBinary(const TargetMemory& memory, const std::string& path);

// The Intel HEX text itself (exposed for the file writer above).
std::string IntelHexText(const TargetMemory& memory);

// Puts the data of an Intel HEX file (records 00, 01, 02 and 04) into the memory at the
// start, as if the target held it already (its flash programmed behind the host's
// back). False with the reason for a file that can't be read, a damaged record or data
// outside the memory.
bool LoadIntelHex(TargetMemory& memory, const std::string& path, std::string& error);
