/* LPC1752/1756/1766/1768 (Cortex-M3): 48 MHz from the internal RC oscillator
 * (irc_pll0.h); UART0 on P0.2 (TXD0) and P0.3 (RXD0) with a fractional divider. */
#ifndef LPC17XX_H
#define LPC17XX_H

#define UART0_BASE 0x4000C000u
#define WDT_BASE 0x40000000u
#define SC_BASE 0x400FC000u
#define IAP_ENTRY 0x1FFF1FF1u
#define HAS_WDCLKSEL 1
#define HAS_UART_DMA 1 /* the GPDMA serves UART0's receiver */

#include "irc_pll0.h"

#define FLASHCFG REG(0x400FC000)
#define PINSEL0 REG(0x4002C000)

/* Built with the values for an LPC1768 at 115200 baud; the host patches them. The
 * routine for packed blocks starts right behind its parameter block. */
#ifndef LPC_ENTRY_ADDRESS
#define LPC_ENTRY_ADDRESS 0x100003D1
#endif
#define LPC_PARAMS_INIT                                                                       \
    {                                                                                         \
        .load = 0x10000200, .entry = LPC_ENTRY_ADDRESS, .block_size = 4096, .clock_khz = 48000, \
        .zero = 0, .last_sector = 29, .divisor = 24, .spare = 0, .pll_setting = 35,           \
        .div_add_val = 1, .mul_val = 12                                                       \
    }

/* Sectors: 16 of 4 KiB, 14 of 32 KiB. */
#define FLASH_LAST_SECTOR 29u

static uint32_t flash_sector_start(uint32_t sector)
{
    if (sector <= 16) return sector << 12;
    return 0x10000 + ((sector - 16) << 15);
}

static uint32_t flash_sector(uint32_t address)
{
    if (address < 0x10000) return address >> 12;
    return 16 + ((address - 0x10000) >> 15);
}

EARLY static uint32_t lpc_setup(void)
{
    const uint32_t cclk_khz = irc_pll0_setup();
    /* Flash reads, for the read-back, take 4 CPU clocks (FLASHTIM 3, up to 80 MHz);
     * bits 11:0 keep their reset value. */
    FLASHCFG = (FLASHCFG & 0xFFFu) | 3u << 12;
    PINSEL0 = (PINSEL0 & ~0xF0u) | 0x50u; /* P0.2 TXD0, P0.3 RXD0 */
    uart0_setup_fractional();
    return cclk_khz;
}

#endif
