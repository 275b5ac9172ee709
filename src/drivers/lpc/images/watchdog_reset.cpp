// The watchdog-reset routine: ARM code run at 0x400002F0 on an LPC2xxx. It arms the
// watchdog with the shortest time-out in reset mode and feeds it once to start it;
// the part then resets, and its boot ROM (which ignores the ISP pin after a watchdog
// reset) starts the user code with every peripheral in its reset state.
#include "drivers/lpc/images/images.hpp"

const uint8_t kLpcWatchdogReset[56] = {
    0x20, 0x00, 0x9F, 0xE5,  // ldr r0, [pc, #32]     r0 = 0xE0000000 (WDMOD)
    0xFF, 0x10, 0xA0, 0xE3,  // mov r1, #0xFF
    0x04, 0x10, 0x80, 0xE5,  // str r1, [r0, #4]      WDTC = 0xFF, the minimum
    0x03, 0x10, 0xA0, 0xE3,  // mov r1, #3
    0x00, 0x10, 0x80, 0xE5,  // str r1, [r0]          WDMOD = WDEN | WDRESET
    0xAA, 0x10, 0xA0, 0xE3,  // mov r1, #0xAA
    0x08, 0x10, 0x80, 0xE5,  // str r1, [r0, #8]      WDFEED = 0xAA
    0x55, 0x10, 0xA0, 0xE3,  // mov r1, #0x55
    0x08, 0x10, 0x80, 0xE5,  // str r1, [r0, #8]      WDFEED = 0x55: the watchdog runs
    0xFE, 0xFF, 0xFF, 0xEA,  // b .                   wait for the reset
    0x00, 0x00, 0x00, 0xE0,  // .word 0xE0000000
};
