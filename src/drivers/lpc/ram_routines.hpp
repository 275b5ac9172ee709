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
    // A routine that takes packed blocks ('Z' frames) through its ring of `ringSize`
    // bytes; `window`: the bytes the host may send past the last frame answered (0: the
    // next frame goes out only once the last one is answered).
    bool packed = false;
    uint32_t ringSize = 0;
    uint32_t window = 0;
};

// Selects the routine for the part, crystal (kHz) and baud rate and patches its
// parameter block; false when the part, the crystal or the rate is not supported. A
// rate outside the table is served when the part's UART makes it within 1 %. With
// `packed`, the part's routine for packed blocks where it has one.
bool LpcConfigureRamRoutine(const LpcPart& part, int32_t crystalKHz, uint32_t baud, LpcRamRoutine& routine,
                            bool packed = false);

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
    // The packed-block routines only.
    LPC_PARAM_FLAGS = 19,      // bit 0: the GPDMA fills the ring
    LPC_PARAM_RING = 20,       // LE32
    LPC_PARAM_RING_SIZE = 24,  // LE32, a power of two
};
