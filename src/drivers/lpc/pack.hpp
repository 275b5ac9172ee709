// Packing of the blocks that fast mode sends compressed to Vorlo's own RAM routine:
// LZ77 within the block, with Elias-gamma codes for offsets and lengths. The routine's
// unpacker is target/lpc_routines/unpack.h, which describes the stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The packed stream of `n` bytes (n <= 4096, the largest block): the shortest the format allows for the
// matches found, by a cost search over the whole block.
std::vector<uint8_t> PackBlock(const uint8_t* data, size_t n);
