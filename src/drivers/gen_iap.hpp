// What the GEN_IAP driver offers another driver: a programming routine that Vorlo
// loaded into the target itself (the LPC boot ROM's fast mode) also reads the flash and
// its CRC, so READ, VERIFY and BLANKCHECK go through it. A resident routine of unknown
// make is never sent those commands.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "drivers/driver.hpp"

// A routine that takes packed blocks ('Z' frames) through a ring of `ring` bytes; the
// host may send `window` bytes past the last frame answered (0: one frame at a time).
struct PackedLink {
    uint32_t ring = 0;
    uint32_t window = 0;
};

struct OwnRoutine {
    MemoryRanges sectors;           // the flash sectors it covers, in order
    std::vector<std::string> info;  // what DEVICEINFO shows besides the block size
    std::optional<PackedLink> packed;  // WRITE sends packed blocks to it
    bool erasesSectors = false;        // it takes 'e', the erase of single sectors (UPDATE)
};
// Call after the routine answered GEN_IAP's connect; the next connect forgets it.
void GenIapOwnRoutine(const OwnRoutine& routine);
