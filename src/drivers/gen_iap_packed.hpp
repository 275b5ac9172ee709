// Writing through a routine Vorlo loaded that takes packed blocks ('Z' frames,
// target/lpc_routines/compressed.h): each block packed (drivers/lpc/pack.hpp), several
// frames on their way at once where the routine's ring takes them, each answer matched
// to its frame by the frame's sequence number.
#pragma once

#include <cstdint>

#include "drivers/gen_iap.hpp"

// Queues the block and sends what the routine's window allows; the end call (length 0)
// sends the rest and waits for every answer. False when a block was refused three
// times (explained); an ERROR when the routine cannot be brought back to the frames.
bool PackedWrite(const PackedLink& link, uint32_t address, const uint8_t* data, uint32_t length);
// Forgets frames of an earlier connection.
void PackedReset();
