// Stand-in for the ARM7 LPC213x programming routine: the parameter block as the
// routine carries it, the code itself still to come.
#include "drivers/lpc/images/images.hpp"

const uint8_t kLpcRoutineArm7Lpc213x[1896] = {
    0x00, 0x02, 0x00, 0x40,  // load address 0x40000200
    0x20, 0x02, 0x00, 0x40,  // entry address 0x40000220 (ARM)
    0x00, 0x10,              // block size 4096
    0x10, 0x27,              // clock 10000 kHz
    0x00, 0x0A,              // 0, last sector 10
    0x1B, 0x02, 0x04,        // divisor 27, 2, PLL multiplier setting 4
    0x00, 0x00,              // no fractional divider
};
