/* LPC2132/LPC2134 (ARM7TDMI-S): the PLL multiplies the crystal named in the parameter
 * block (10 MHz) by the setting plus one; the peripheral clock equals the core clock;
 * UART0 on P0.0 (TXD0) and P0.1 (RXD0) has no fractional divider to rely on. */
#ifndef LPC213X_H
#define LPC213X_H

#define UART0_BASE 0xE000C000u
#define WDT_BASE 0xE0000000u
#define IAP_ENTRY 0x7FFFFFF1u

#include "routine.h"

#define MAMCR REG(0xE01FC000)
#define MAMTIM REG(0xE01FC004)
#define MEMMAP REG(0xE01FC040)
#define PLLCON REG(0xE01FC080)
#define PLLCFG REG(0xE01FC084)
#define PLLSTAT REG(0xE01FC088)
#define PLLFEED REG(0xE01FC08C)
#define VPBDIV REG(0xE01FC100)
#define PINSEL0 REG(0xE002C000)

#define PLLCON_PLLE 0x1u
#define PLLCON_PLLC 0x2u
#define PLLSTAT_PLLC (1u << 9)
#define PLLSTAT_PLOCK (1u << 10)

#define CCLK_MAX_KHZ 60000u

/* Built with the values for an LPC2134 at 115200 baud; the host patches them. */
#define LPC_PARAMS_INIT                                                                       \
    {                                                                                         \
        .load = 0x40000200, .entry = 0x40000220, .block_size = 4096, .clock_khz = 10000,      \
        .zero = 0, .last_sector = 10, .divisor = 27, .spare = 2, .pll_setting = 4,            \
        .div_add_val = 0, .mul_val = 0                                                        \
    }

#include "lpc2000_sectors.h"

/* The PLL takes new settings only after the feed sequence. */
static void pll_feed(void)
{
    PLLFEED = 0xAA;
    PLLFEED = 0x55;
}

/* Returns the core clock in kHz, the figure the IAP calls need. */
EARLY static uint32_t lpc_setup(void)
{
    const uint32_t crystal_khz = lpc_params.clock_khz;
    const uint32_t msel = lpc_params.pll_setting & 0x1F;
    uint32_t cclk_khz = crystal_khz * (msel + 1);

    /* Flash read-back with the accelerator off and the slowest (reset) timing, which
     * holds at any clock. */
    MAMCR = 0;
    MAMTIM = 7;

    /* Whatever the boot ROM left: disconnect, then disable, each with its own feed. */
    if (PLLSTAT & PLLSTAT_PLLC) {
        PLLCON = PLLCON_PLLE;
        pll_feed();
    }
    PLLCON = 0;
    pll_feed();
    VPBDIV = 1; /* PCLK = CCLK */

    if (cclk_khz <= CCLK_MAX_KHZ) {
        /* The current-controlled oscillator runs at CCLK x 2 x P, within 156 to 320
         * MHz: P = 2 (PSEL 1) for 40, 50 and 60 MHz. */
        uint32_t psel = 0;
        while (psel < 3 && cclk_khz * (2u << psel) < 156000) psel++;
        PLLCFG = msel | psel << 5;
        pll_feed();
        PLLCON = PLLCON_PLLE;
        pll_feed();
        while (!(PLLSTAT & PLLSTAT_PLOCK)) {
        }
        PLLCON = PLLCON_PLLE | PLLCON_PLLC;
        pll_feed();
    } else {
        cclk_khz = crystal_khz; /* a setting beyond the part's limit: stay on the crystal */
    }

    MEMMAP = 1; /* user flash at 0, not the boot ROM's vectors: the read-back sees flash */
    PINSEL0 = (PINSEL0 & ~0xFu) | 0x5u; /* P0.0 TXD0, P0.1 RXD0 */
    /* 0x10 (MulVal 1, DivAddVal 0) switches off the fractional divider of the /01
     * revisions; the others have no register there. */
    uart0_setup(lpc_params.divisor, 0x10);
    return cclk_khz;
}

#endif
