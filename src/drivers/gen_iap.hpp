// What the GEN_IAP driver offers another driver: a programming routine that Vorlo
// loaded into the target itself (the LPC boot ROM's fast mode) also reads the flash and
// its CRC, so READ, VERIFY and BLANKCHECK go through it. A resident routine of unknown
// make is never sent those commands.
#pragma once

#include <string>
#include <vector>

#include "drivers/driver.hpp"

struct OwnRoutine {
    MemoryRanges sectors;           // the flash sectors it covers, in order
    std::vector<std::string> info;  // what DEVICEINFO shows besides the block size
};
// Call after the routine answered GEN_IAP's connect; the next connect forgets it.
void GenIapOwnRoutine(const OwnRoutine& routine);
