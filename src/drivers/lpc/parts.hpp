// NXP LPC parts as their boot ROM reports them: one row per part ID, with the flash
// sector map the part's flash is divided into.
#pragma once

#include <cstdint>
#include <span>

// Runs of equal sectors, in sector order from address 0.
struct LpcSectorRun {
    int32_t count;
    uint32_t size;
};

struct LpcSectorMap {
    char name;  // 'A', 'B', 'D', 'E', 'F'
    std::span<const LpcSectorRun> runs;
};

struct LpcPart {
    uint32_t id;        // as the read-part-ID command answers it
    int32_t number;     // shown as "LPC%d"
    int32_t flashKiB;
    int32_t ramKiB;
    int32_t sectors;    // the last sector is this minus one
    int32_t copySize;   // bytes of each RAM-to-flash copy: the driver's block size
    const LpcSectorMap* map;
};

// Entries 1 to 67; entry 0 (no part) is kNoLpcPart.
std::span<const LpcPart> LpcPartTable();
extern const LpcPart kNoLpcPart;

// The part with this ID, searching from the last entry to the first; null when none.
const LpcPart* LpcIdentify(uint32_t id);

// Cortex-M parts (the map with 16 sectors of 4 KiB and 14 of 32 KiB) start code in
// Thumb state and have their RAM at 0x10000000; all others are ARM7 parts.
bool LpcIsCortex(const LpcPart& part);

// First and last address of sector n; beyond the last sector, those of the last
// sector. Without sectors the end is 0xFFFFFFFF.
uint32_t LpcSectorStart(const LpcPart& part, int32_t n);
uint32_t LpcSectorEnd(const LpcPart& part, int32_t n);

// The part the LPC boot-ROM driver identified last (kNoLpcPart before): the code
// preparation of WRITE follows it.
const LpcPart& LpcCurrentPart();
void LpcSetCurrentPart(const LpcPart& part);
