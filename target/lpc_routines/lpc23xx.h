/* LPC2364/2366/2378/2388/2478 (ARM7TDMI-S): 48 MHz from the internal RC oscillator
 * (irc_pll0.h); UART0 on P0.2 (TXD0) and P0.3 (RXD0) with a fractional divider. */
#ifndef LPC23XX_H
#define LPC23XX_H

#define UART0_BASE 0xE000C000u
#define WDT_BASE 0xE0000000u
#define SC_BASE 0xE01FC000u
#define IAP_ENTRY 0x7FFFFFF1u
#define HAS_WDCLKSEL 1

#include "irc_pll0.h"

#define MAMCR REG(0xE01FC000)
#define MAMTIM REG(0xE01FC004)
#define PINSEL0 REG(0xE002C000)

/* Built with the values for an LPC2378 at 115200 baud; the host patches them. */
#define LPC_PARAMS_INIT                                                                       \
    {                                                                                         \
        .load = 0x40000200, .entry = 0x40000220, .block_size = 4096, .clock_khz = 48000,      \
        .zero = 0, .last_sector = 27, .divisor = 24, .spare = 0, .pll_setting = 35,           \
        .div_add_val = 1, .mul_val = 12                                                       \
    }

#include "lpc2000_sectors.h"

EARLY static uint32_t lpc_setup(void)
{
    /* Flash read-back with the accelerator off and the slowest (reset) timing, which
     * holds at any clock. */
    MAMCR = 0;
    MAMTIM = 7;
    const uint32_t cclk_khz = irc_pll0_setup();
    PINSEL0 = (PINSEL0 & ~0xF0u) | 0x50u; /* P0.2 TXD0, P0.3 RXD0 */
    uart0_setup_fractional();
    return cclk_khz;
}

#endif
