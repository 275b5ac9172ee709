// Fast mode of the LPC boot-ROM driver: a programming routine loaded into the part's
// RAM, which then speaks the one-letter resident protocol at a high baud rate.
#pragma once

#include <cstdint>
#include <vector>

#include "drivers/lpc/parts.hpp"

struct LpcRamRoutine {
    std::vector<uint8_t> image;  // with its parameter block patched for the part
    uint32_t loadAddress;
    uint32_t entryAddress;  // odd for Thumb code: the go command takes it even
    bool thumb;
};

// Selects the routine for the part, crystal (kHz) and baud rate and patches its
// parameter block; false when the part, the crystal or the rate is not supported.
bool LpcConfigureRamRoutine(const LpcPart& part, int32_t crystalKHz, uint32_t baud, LpcRamRoutine& routine);

// Offsets in the parameter block at the start of every routine (little-endian).
enum LpcParamOffset : size_t {
    LPC_PARAM_LOAD = 0,
    LPC_PARAM_ENTRY = 4,
    LPC_PARAM_BLOCK_SIZE = 8,
    LPC_PARAM_CLOCK_KHZ = 10,
    LPC_PARAM_LAST_SECTOR = 13,
    LPC_PARAM_DIVISOR = 14,
    LPC_PARAM_MULTIPLIER = 16,
    LPC_PARAM_DIV_ADD_VAL = 17,
    LPC_PARAM_MUL_VAL = 18,
};
