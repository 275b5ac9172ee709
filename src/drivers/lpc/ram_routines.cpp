#include "drivers/lpc/ram_routines.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <optional>

#include "drivers/lpc/images/images.hpp"

namespace {
// LPC213x with a 10 MHz crystal: the routine has no fractional divider, so rates the
// divisor alone cannot reach run the PLL at another multiplier.
struct BaudLpc213x {
    uint32_t baud;
    uint8_t divisor;
    uint8_t multiplier;
};
const BaudLpc213x kBaudLpc213x[] = {
    {38400, 81, 4}, {57600, 54, 4}, {115200, 27, 4}, {230400, 16, 5}, {250000, 15, 5}, {500000, 5, 3},
};

// 48 MHz peripheral clock: baud = 48 MHz / (16 x divisor x (1 + DivAddVal / MulVal)).
struct BaudFractional {
    uint32_t baud;
    uint8_t divisor;
    uint8_t divAddVal;
    uint8_t mulVal;
};
const BaudFractional kBaudFractional[] = {
    {115200, 24, 1, 12}, {153600, 11, 7, 9}, {230400, 13, 0, 2}, {250000, 12, 0, 2}, {256000, 11, 1, 15},
    {460800, 6, 1, 12},  {500000, 6, 0, 2},  {576000, 4, 3, 10}, {921600, 3, 1, 12},
};

// Rates beyond the tables: the setting whose rate comes closest, when within 1 %. A UART
// samples each bit in its middle, so both ends of the line take a few percent; 1 % leaves
// the other end its share.
constexpr double kRateTolerance = 0.01;

double RateError(double made, uint32_t baud) { return std::fabs(made - baud) / baud; }

// The table's row for the rate, else the setting computed for it (none: no setting comes
// within 1 %).
template <class Row, size_t N, class Compute>
std::optional<Row> RowOrComputed(const Row (&table)[N], uint32_t baud, Compute compute) {
    for (const Row& row : table)
        if (row.baud == baud) return row;
    return compute(baud);
}

std::optional<BaudLpc213x> ComputedLpc213x(uint32_t baud) {
    std::optional<BaudLpc213x> best;
    double bestError = kRateTolerance;
    // PLL settings 3 to 5: 40, 50 and 60 MHz from the 10 MHz crystal, the peripheral clock
    // equal to the core clock; the PLL's oscillator stays within its range.
    for (uint8_t multiplier : {4, 5, 3}) {
        const double pclk = 10e6 * (multiplier + 1);
        const long divisor = std::lround(pclk / (16.0 * baud));
        if (divisor < 1 || divisor > 255) continue;
        const double error = RateError(pclk / (16.0 * divisor), baud);
        if (error <= bestError && (!best || error < bestError)) {
            bestError = error;
            best = BaudLpc213x{baud, static_cast<uint8_t>(divisor), multiplier};
        }
    }
    return best;
}

// 48 MHz / (16 x divisor x (1 + DivAddVal / MulVal)), the divisor within the parameter
// block's byte, and at least 3 with a fraction (the UART's rule). Ties go to the
// plainer setting: no fraction, then the smaller MulVal.
std::optional<BaudFractional> ComputedFractional(uint32_t baud) {
    std::optional<BaudFractional> best;
    double bestError = kRateTolerance;
    for (uint8_t mulVal = 1; mulVal <= 15; ++mulVal) {
        for (uint8_t divAddVal = 0; divAddVal < mulVal; ++divAddVal) {
            if (mulVal > 1 && divAddVal == 0) continue;  // the same as 0/1
            const double fraction = 1.0 + static_cast<double>(divAddVal) / mulVal;
            const long divisor = std::lround(48e6 / (16.0 * baud * fraction));
            if (divisor < (divAddVal ? 3 : 1) || divisor > 255) continue;
            const double error = RateError(48e6 / (16.0 * divisor * fraction), baud);
            if (error <= bestError && (!best || error < bestError)) {
                bestError = error;
                best = BaudFractional{baud, static_cast<uint8_t>(divisor), divAddVal, mulVal};
            }
        }
    }
    return best;
}

// Where each part's packed-block routine keeps its ring: the AHB SRAM of the larger
// LPC17xx, filled by the GPDMA; the LPC1752's local SRAM above the routine's stack
// reach; on the ARM7 parts local SRAM above the stack, or the Ethernet RAM on the
// LPC2364, whose 8 KiB of local SRAM the routine, its buffer and its stack fill.
struct PackedRing {
    int32_t part;
    uint32_t address;
    uint32_t size;
    bool dma;
};
const PackedRing kPackedRings[] = {
    {1752, 0x10001D40, 8192, true},  {1756, 0x2007C000, 16384, true}, {1766, 0x2007C000, 16384, true},
    {1768, 0x2007C000, 16384, true}, {2364, 0x7FE00000, 8192, false}, {2366, 0x40002000, 8192, false},
    {2378, 0x40002000, 8192, false}, {2388, 0x40002000, 8192, false}, {2478, 0x40002000, 8192, false},
};

void PutLe32(uint8_t* p, uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

bool OneOf(int32_t number, std::initializer_list<int32_t> numbers) {
    return std::find(numbers.begin(), numbers.end(), number) != numbers.end();
}

void Load(LpcRamRoutine& routine, const uint8_t* image, size_t size, uint32_t load, uint32_t entry) {
    routine.image.assign(image, image + size);
    routine.loadAddress = load;
    routine.entryAddress = entry;
    routine.thumb = (entry & 1u) != 0;
}
}  // namespace

bool LpcConfigureRamRoutine(const LpcPart& part, int32_t crystalKHz, uint32_t baud, LpcRamRoutine& routine,
                            bool packed) {
    if (crystalKHz == 10000 && OneOf(part.number, {2132, 2134})) {
        Load(routine, kLpcRoutineArm7Lpc213x, sizeof kLpcRoutineArm7Lpc213x, 0x40000200, 0x40000220);
        uint8_t* p = routine.image.data();
        p[LPC_PARAM_BLOCK_SIZE] = 0x00;
        p[LPC_PARAM_BLOCK_SIZE + 1] = 0x10;
        p[LPC_PARAM_CLOCK_KHZ] = 0x10;  // 10000 kHz: the crystal this routine requires
        p[LPC_PARAM_CLOCK_KHZ + 1] = 0x27;
        p[12] = 0;
        p[LPC_PARAM_LAST_SECTOR] = part.number == 2132 ? 8 : 10;
        p[15] = 2;
        const std::optional<BaudLpc213x> setting = RowOrComputed(kBaudLpc213x, baud, ComputedLpc213x);
        if (!setting) return false;
        p[LPC_PARAM_DIVISOR] = setting->divisor;
        p[LPC_PARAM_MULTIPLIER] = setting->multiplier;
        return true;
    }
    const bool cortex = OneOf(part.number, {1752, 1756, 1766, 1768});
    if (packed && cortex)
        Load(routine, kLpcRoutineCortexM3Packed, sizeof kLpcRoutineCortexM3Packed, 0x10000200, 0x10000221);
    else if (cortex)
        Load(routine, kLpcRoutineCortexM3, sizeof kLpcRoutineCortexM3, 0x10000200, 0x100003D1);
    else if (packed && OneOf(part.number, {2364, 2366, 2378, 2388, 2478}))
        Load(routine, kLpcRoutineArm7Lpc23xxPacked, sizeof kLpcRoutineArm7Lpc23xxPacked, 0x40000200, 0x40000220);
    else if (OneOf(part.number, {2364, 2366, 2378, 2388, 2478}))
        Load(routine, kLpcRoutineArm7Lpc23xx, sizeof kLpcRoutineArm7Lpc23xx, 0x40000200, 0x40000220);
    else
        return false;
    uint8_t* p = routine.image.data();
    p[LPC_PARAM_LAST_SECTOR] = static_cast<uint8_t>(part.sectors - 1);
    const std::optional<BaudFractional> setting = RowOrComputed(kBaudFractional, baud, ComputedFractional);
    if (!setting) return false;
    p[LPC_PARAM_DIVISOR] = setting->divisor;
    p[LPC_PARAM_DIV_ADD_VAL] = setting->divAddVal;
    p[LPC_PARAM_MUL_VAL] = setting->mulVal;
    if (packed) {
        auto ring = std::find_if(std::begin(kPackedRings), std::end(kPackedRings),
                                 [&part](const PackedRing& r) { return r.part == part.number; });
        routine.packed = true;
        routine.ringSize = ring->size;
        routine.window = ring->dma ? ring->size : 0;
        p[LPC_PARAM_FLAGS] = ring->dma ? 1 : 0;
        PutLe32(p + LPC_PARAM_RING, ring->address);
        PutLe32(p + LPC_PARAM_RING_SIZE, ring->size);
    }
    return true;
}
