#include "drivers/lpc/ram_routines.hpp"

#include <algorithm>
#include <iterator>

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

bool LpcConfigureRamRoutine(const LpcPart& part, int32_t crystalKHz, uint32_t baud, LpcRamRoutine& routine) {
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
        auto row = std::find_if(std::begin(kBaudLpc213x), std::end(kBaudLpc213x),
                                [baud](const BaudLpc213x& r) { return r.baud == baud; });
        if (row == std::end(kBaudLpc213x)) return false;
        p[LPC_PARAM_DIVISOR] = row->divisor;
        p[LPC_PARAM_MULTIPLIER] = row->multiplier;
        return true;
    }
    if (OneOf(part.number, {1752, 1756, 1766, 1768}))
        Load(routine, kLpcRoutineCortexM3, sizeof kLpcRoutineCortexM3, 0x10000200, 0x100003D1);
    else if (OneOf(part.number, {2364, 2366, 2378, 2388, 2478}))
        Load(routine, kLpcRoutineArm7Lpc23xx, sizeof kLpcRoutineArm7Lpc23xx, 0x40000200, 0x40000220);
    else
        return false;
    uint8_t* p = routine.image.data();
    p[LPC_PARAM_LAST_SECTOR] = static_cast<uint8_t>(part.sectors - 1);
    auto row = std::find_if(std::begin(kBaudFractional), std::end(kBaudFractional),
                            [baud](const BaudFractional& r) { return r.baud == baud; });
    if (row == std::end(kBaudFractional)) return false;
    p[LPC_PARAM_DIVISOR] = row->divisor;
    p[LPC_PARAM_DIV_ADD_VAL] = row->divAddVal;
    p[LPC_PARAM_MUL_VAL] = row->mulVal;
    return true;
}
