// Stand-in for the ARM7 LPC23xx/24xx programming routine: the parameter block as the
// routine carries it, the code itself still to come.
#include "drivers/lpc/images/images.hpp"

const uint8_t kLpcRoutineArm7Lpc23xx[1844] = {
    0x00, 0x02, 0x00, 0x40,  // load address 0x40000200
    0x20, 0x02, 0x00, 0x40,  // entry address 0x40000220 (ARM)
    0x00, 0x10,              // block size 4096
    0x80, 0xBB,              // clock 48000 kHz
    0x00, 0x1B,              // 0, last sector 27
    0x18, 0x00, 0x23,        // divisor 24, 0, 35
    0x01, 0x0C,              // DivAddVal 1, MulVal 12
};
