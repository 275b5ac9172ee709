// Shared body of the code file reader fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image/code_formats.hpp"

// Feeds one input through `reader` and, when it loads, through what a user runs next:
// listing, CODEINFO, compaction, block alignment and splitting for export and for a
// target's blocks, and every writer, whose output must read back to the same data.
// A broken invariant aborts, so that libFuzzer keeps the input.
// `roundTrips` off: the writers are left out (a reader whose images the other targets'
// writers see as well, and that runs many more inputs a second without them).
void FuzzReader(CodeFormatFunc reader, int format, const uint8_t* data, size_t size, bool roundTrips = true);
