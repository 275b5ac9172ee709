// The RAM programming routine that a host loads through the LPC boot ROM and starts
// with a go command: a model of what the routine does with its parameter block (set up
// the clock and the UART, then serve the GEN_IAP commands), not the routine's code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "protocol.hpp"
#include "protocols/iap_commands.hpp"
#include "protocols/lpc_parts.hpp"

// The parameter block at the start of the routine's image (little-endian).
struct LpcRoutineBlock {
    uint32_t load = 0;        // +0  where the image was written
    uint32_t entry = 0;       // +4  where it is started (Thumb: odd)
    uint16_t blockSize = 0;   // +8  the block size it announces
    uint16_t clockKhz = 0;    // +10 crystal (LPC21xx) or peripheral clock (fractional UARTs)
    uint8_t lastSector = 0;   // +13 its erase covers sectors 0 to this one
    uint8_t divisor = 0;      // +14 UART divisor latch
    uint8_t pllSetting = 0;   // +16 PLL multiplier field: the clock is multiplied by it plus 1
    uint8_t divAddVal = 0;    // +17 fractional divider
    uint8_t mulVal = 0;       // +18

    // Reads the block at `load`; false when RAM there holds no block that names `load`
    // as its own load address and `entry` as its entry.
    static bool Read(TargetMemory& memory, uint32_t load, uint32_t entry, LpcRoutineBlock& block);
    // The UART rate the routine sets up on `part`; 0 when the settings give none.
    uint32_t Baud(const LpcPart& part) const;
};

class LpcRamRoutine {
public:
    LpcRamRoutine(const LpcRoutineBlock& block, const LpcPart& part, bool timed);

    uint32_t Baud() const { return baud_; }
    std::string Describe() const;  // "UART 923077 baud, block 4096, last sector 29"
    void Receive(uint8_t byte, Target& target) { engine_.Receive(byte, target); }

private:
    static IapSettings Settings(const LpcRoutineBlock& block, const LpcPart& part, bool timed);

    LpcRoutineBlock block_;
    uint32_t baud_;
    IapCommandEngine engine_;
};
