#include "protocols/lpc_ram_routine.hpp"

#include <cmath>

namespace {

constexpr uint32_t kBlockBytes = 19;

uint32_t Le32(const uint8_t* b) { return b[0] | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 24); }
uint16_t Le16(const uint8_t* b) { return static_cast<uint16_t>(b[0] | (b[1] << 8)); }

}  // namespace

bool LpcRoutineBlock::Read(TargetMemory& memory, uint32_t load, uint32_t entry, LpcRoutineBlock& block) {
    uint8_t b[kBlockBytes];
    uint32_t where = 0;
    if (!memory.Read(load, b, where)) return false;
    block.load = Le32(b);
    block.entry = Le32(b + 4);
    block.blockSize = Le16(b + 8);
    block.clockKhz = Le16(b + 10);
    block.lastSector = b[13];
    block.divisor = b[14];
    block.pllSetting = b[16];
    block.divAddVal = b[17];
    block.mulVal = b[18];
    return block.load == load && block.entry == entry;
}

uint32_t LpcRoutineBlock::Baud(const LpcPart& part) const {
    // baud = peripheral clock / (16 * divisor * (1 + DivAddVal / MulVal)).
    double pclk;
    double fraction = 1.0;
    if (part.FractionalBaud()) {
        // The routine runs the PLL to the clock its block names (48 MHz) and trims the
        // rate with the fractional divider.
        if (mulVal == 0) return 0;
        pclk = clockKhz * 1000.0;
        fraction += static_cast<double>(divAddVal) / mulVal;
    } else {
        // No fractional divider: the routine multiplies the crystal with the PLL. The
        // PLL's multiplier field holds M - 1, so 10 MHz with the field at 4 runs at
        // 50 MHz: 50 MHz / (16 * 27) = 115741 baud, 0.5% off 115200.
        pclk = clockKhz * 1000.0 * (pllSetting + 1);
    }
    if (divisor == 0 || pclk == 0) return 0;
    return static_cast<uint32_t>(std::lround(pclk / (16.0 * divisor * fraction)));
}

IapSettings LpcRamRoutine::Settings(const LpcRoutineBlock& block, const LpcPart& part, bool timed) {
    IapSettings s;
    s.blockSize = block.blockSize;
    s.eraseLastSector = block.lastSector;
    s.keyPrefix = "iap.";
    if (timed) {
        // The IAP erase of a range of sectors takes one sector erase time.
        s.eraseMs = part.EraseMs();
        s.programMsPer256 = 1;
    }
    return s;
}

LpcRamRoutine::LpcRamRoutine(const LpcRoutineBlock& block, const LpcPart& part, bool timed)
    : block_(block), baud_(block.Baud(part)), engine_("lpc_isp: RAM routine", Settings(block, part, timed), false) {}

std::string LpcRamRoutine::Describe() const {
    return "UART " + std::to_string(baud_) + " baud, block " + std::to_string(block_.blockSize) + ", last sector " +
           std::to_string(block_.lastSector);
}
