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

/* Sectors: 8 of 4 KiB, 14 of 32 KiB, 6 of 4 KiB (the boot block follows them). */
#define FLASH_LAST_SECTOR 27u

static uint32_t flash_sector_start(uint32_t sector)
{
    if (sector <= 8) return sector << 12;
    if (sector <= 22) return 0x8000 + ((sector - 8) << 15);
    return 0x78000 + ((sector - 22) << 12);
}

static uint32_t flash_sector(uint32_t address)
{
    if (address < 0x8000) return address >> 12;
    if (address < 0x78000) return 8 + ((address - 0x8000) >> 15);
    return 22 + ((address - 0x78000) >> 12);
}

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
