/* Clock set-up shared by the LPC23xx/24xx and the LPC17xx: their system control blocks
 * have the same layout (SC_BASE from the family header). PLL0 runs from the internal
 * 4 MHz RC oscillator, so the routine needs no crystal: M = setting + 1 (36), N = 1,
 * CCO = 2 x M x 4 MHz = 288 MHz, CCLK = CCO / 6 = 48 MHz, PCLK of UART0 = CCLK. */
#ifndef IRC_PLL0_H
#define IRC_PLL0_H

#include "routine.h"

#define MEMMAP REG(SC_BASE + 0x040)
#define PLL0CON REG(SC_BASE + 0x080)
#define PLL0CFG REG(SC_BASE + 0x084)
#define PLL0STAT REG(SC_BASE + 0x088)
#define PLL0FEED REG(SC_BASE + 0x08C)
#define PCONP REG(SC_BASE + 0x0C4)
#define CCLKCFG REG(SC_BASE + 0x104)
#define CLKSRCSEL REG(SC_BASE + 0x10C)
#define PCLKSEL0 REG(SC_BASE + 0x1A8)

#define PLL0CON_PLLE 0x1u
#define PLL0CON_PLLC 0x2u
#define PLL0STAT_PLLC (1u << 25)
#define PLL0STAT_PLOCK (1u << 26)

#define IRC_KHZ 4000u
#define CCLK_DIVIDE 6u /* CCLKSEL 5: odd, as the LPC23xx requires */

#define PCONP_PCUART0 (1u << 3)

static void pll0_feed(void)
{
    PLL0FEED = 0xAA;
    PLL0FEED = 0x55;
}

/* Returns the core clock in kHz. */
static uint32_t irc_pll0_setup(void)
{
    uint32_t msel = lpc_params.pll_setting;
    /* Keep the CCO within 275 to 550 MHz and CCLK = CCO / 6 within 72 MHz. */
    if (msel < 34 || msel > 53) msel = 35;
    const uint32_t cclk_khz = 2 * IRC_KHZ * (msel + 1) / CCLK_DIVIDE;

    /* The boot ROM may leave PLL0 running and connected: disconnect, then disable,
     * each with its own feed. */
    if (PLL0STAT & PLL0STAT_PLLC) {
        PLL0CON = PLL0CON_PLLE;
        pll0_feed();
    }
    PLL0CON = 0;
    pll0_feed();
    CLKSRCSEL = 0; /* internal RC oscillator; changed only with PLL0 off */
    /* Peripheral clock dividers take effect only while PLL0 is not connected. */
    PCLKSEL0 = (PCLKSEL0 & ~(3u << 6)) | 1u << 6; /* UART0 at CCLK */
    PCONP |= PCONP_PCUART0;
    PLL0CFG = msel; /* NSEL 0: N = 1 */
    pll0_feed();
    PLL0CON = PLL0CON_PLLE;
    pll0_feed();
    CCLKCFG = CCLK_DIVIDE - 1; /* before connecting */
    while (!(PLL0STAT & PLL0STAT_PLOCK)) {
    }
    PLL0CON = PLL0CON_PLLE | PLL0CON_PLLC;
    pll0_feed();

    MEMMAP = 1; /* user flash at 0, not the boot ROM: the read-back sees flash */
    return cclk_khz;
}

/* UART0 with the divisor and the fractional divider of the parameter block; a
 * fraction the UART cannot take (MulVal 0, DivAddVal not below MulVal) is left off. */
static void uart0_setup_fractional(void)
{
    const uint32_t div_add = lpc_params.div_add_val;
    const uint32_t mul = lpc_params.mul_val;
    const uint32_t fdr = (mul != 0 && mul <= 15 && div_add < mul) ? (mul << 4 | div_add) : 0x10;
    uart0_setup(lpc_params.divisor, fdr);
}

#endif
