// The "program a simulated target" fixture: a work directory for vorlo (its HOME and
// TMP, so the remembered port and the command file stay inside), code files written
// from records, and a run of vorlo against a vorlo-sim target.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "support/run_vorlo.hpp"
#include "support/sim_target.hpp"

using CodeRecords = std::vector<std::pair<uint32_t, std::vector<uint8_t>>>;

// Bytes that differ from block to block and from their neighbours.
std::vector<uint8_t> Pattern(size_t n, uint8_t seed);
// Intel HEX text of the records (16 bytes a line, extended linear addresses).
std::string IntelHexText(const CodeRecords& records);
// The memory a target holds after the records were written from address 0 on: gaps
// and the padding up to `size` read 0xFF.
std::vector<uint8_t> MemoryImage(const CodeRecords& records, size_t size);

// The image as the LPC boot ROM wants it: the first eight words sum to zero, the
// checksum in word 7 on Cortex-M and in word 5 on ARM7 parts.
std::vector<uint8_t> WithLpcVectorChecksum(std::vector<uint8_t> image, bool cortex);

class SimUpload : public ::testing::Test {
protected:
    std::string dir = MakeTempDir();
    RunOptions Options() const;
    // Writes the records as an Intel HEX file in the work directory; returns its path.
    std::string HexFile(const CodeRecords& records, const std::string& name = "app.hex") const;
    // Runs vorlo with --driver, --connection to the target at `baud` (8N1), the code file
    // and the commands.
    RunResult Program(const SimTarget& sim, const std::string& driver, const std::string& codeFile,
                      const std::vector<std::string>& commands, int baud = 115200) const;
};
