// The NXP LPC parts the ISP boot ROM simulation knows: part ID, flash and RAM sizes,
// sector layout, and what follows from the core (ARM7 or Cortex-M).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// The boot ROM's return codes, which its IAP functions answer with too.
enum LpcStatus : int {
    kSuccess = 0,
    kInvalidCommand = 1,
    kSrcAddrError = 2,
    kDstAddrError = 3,
    kSrcAddrNotMapped = 4,
    kDstAddrNotMapped = 5,
    kCountError = 6,
    kInvalidSector = 7,
    kSectorNotBlank = 8,
    kSectorNotPrepared = 9,
    kCompareError = 10,
    kParamError = 12,
    kAddrError = 13,
    kAddrNotMapped = 14,
    kCmdLocked = 15,
    kInvalidCode = 16,
    kInvalidBaudRate = 17,
    kInvalidStopBit = 18,
    kCrpEnabled = 19,
};

struct LpcPart {
    uint32_t id;         // what the read-part-ID command answers
    uint32_t number;     // 2148 for the LPC2148
    uint32_t flashKiB;   // 0: no on-chip flash
    uint32_t ramKiB;
    uint32_t sectors;    // the first `sectors` sizes of the layout apply
    uint32_t copySize;   // the largest copy the part's RAM buffer comfortably takes
    char layout;         // 'A', 'B', 'D', 'E' or 'F' (Cortex-M)

    bool Cortex() const { return layout == 'F'; }
    // LPC21xx UARTs have no fractional divider; the LPC23xx/24xx and the Cortex-M
    // parts have one.
    bool FractionalBaud() const { return Cortex() || number >= 2300; }
    uint32_t RamBase() const { return Cortex() ? 0x10000000u : 0x40000000u; }
    // The boot ROM keeps its variables and stack below this RAM address in ISP mode.
    uint32_t RamUserStart() const { return RamBase() + 0x200; }
    // Bytes of flash at address 0 that the boot ROM's own vectors cover in ISP mode.
    uint32_t BootVectorBytes() const { return Cortex() ? 512 : 64; }
    // Byte counts the copy command takes: the first LPC2000 parts, whose flash is made
    // of 8 KiB sectors, copy 512 to 8192 bytes; the later ones 256 to 4096.
    bool CopyCountValid(uint32_t count) const {
        bool eightKiBSectors = layout == 'B' || layout == 'D';
        if (eightKiBSectors) return count == 512 || count == 1024 || count == 4096 || count == 8192;
        return count == 256 || count == 512 || count == 1024 || count == 4096;
    }
    // Flash erase time from the data sheets: one sector or a range of them at once.
    uint32_t EraseMs() const { return Cortex() || number >= 2300 ? 100 : 400; }
    std::vector<uint32_t> SectorSizes() const;
    std::string Name() const { return "LPC" + std::to_string(number); }
    // Only the boot ROMs of the LPC23xx/24xx and the Cortex-M parts know N, the read of
    // the serial number; the LPC21xx/22xx ones answer it INVALID_COMMAND.
    bool HasSerialNumber() const { return Cortex() || number >= 2300; }
    // The serial number the boot ROM reads out: made up from the part, the same every run.
    std::array<uint32_t, 4> Serial() const { return {id, ~id, 0x00A50000u | number, 0x5EC00000u + number}; }
};

std::span<const LpcPart> LpcParts();
// "LPC1768" or "1768": the first entry with that part number; "0x26013F37" (or another
// number that is no part number): the entry with that ID. nullptr when none.
const LpcPart* FindLpcPart(const std::string& text);
