// Stand-in for the Cortex-M3 LPC17xx programming routine: the parameter block as the
// routine carries it, the code itself still to come.
#include "drivers/lpc/images/images.hpp"

const uint8_t kLpcRoutineCortexM3[1352] = {
    0x00, 0x02, 0x00, 0x10,  // load address 0x10000200
    0xD1, 0x03, 0x00, 0x10,  // entry address 0x100003D1 (Thumb)
    0x00, 0x10,              // block size 4096
    0x80, 0xBB,              // clock 48000 kHz
    0x00, 0x1D,              // 0, last sector 29
    0x18, 0x00, 0x23,        // divisor 24, 0, 35
    0x01, 0x0C,              // DivAddVal 1, MulVal 12
};
