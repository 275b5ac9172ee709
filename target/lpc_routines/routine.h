/* Programming routine loaded into an NXP LPC part's RAM through its boot ROM: the
 * parameter block the host patches before loading, and what each part family
 * provides to the protocol code in gen_iap.c. */
#ifndef LPC_ROUTINE_H
#define LPC_ROUTINE_H

#include <stdint.h>

/* Code that the Cortex-M3 image places between its parameter block and its fixed
 * entry address, space that would stay empty otherwise. */
#ifdef EARLY_TEXT
#define EARLY __attribute__((noinline, section(".text.early")))
#else
#define EARLY
#endif

#define REG(address) (*(volatile uint32_t *)(address))

/* The first bytes of the image, little-endian, read where the image was loaded. */
struct lpc_params {
    uint32_t load;        /* +0  load address: this block */
    uint32_t entry;       /* +4  entry address (odd for Thumb code) */
    uint16_t block_size;  /* +8  largest data length of a write frame */
    uint16_t clock_khz;   /* +10 crystal (LPC213x) or core clock (the others) */
    uint8_t zero;         /* +12 */
    uint8_t last_sector;  /* +13 erase and write cover sectors 0 to this one */
    uint8_t divisor;      /* +14 UART0 divisor latch (DLL; DLM is 0) */
    uint8_t spare;        /* +15 not read */
    uint8_t pll_setting;  /* +16 the PLL's MSEL field, M - 1 */
    uint8_t div_add_val;  /* +17 UART0 fractional divider */
    uint8_t mul_val;      /* +18 */
#ifdef COMPRESSED
    uint8_t flags;        /* +19 bit 0: the GPDMA fills the ring */
    uint32_t ring;        /* +20 the ring every received byte goes through */
    uint32_t ring_size;   /* +24 a power of two */
#endif
};

/* Volatile: the host patches the block after the build, so the compiler must not
 * fold the values it was built with. */
extern volatile const struct lpc_params lpc_params;

/* UART0 registers (16C550 layout, the same on every LPC family); UART0_BASE comes
 * from the family header. */
#define U0RBR REG(UART0_BASE + 0x00) /* DLAB = 0, read */
#define U0THR REG(UART0_BASE + 0x00) /* DLAB = 0, write */
#define U0DLL REG(UART0_BASE + 0x00) /* DLAB = 1 */
#define U0DLM REG(UART0_BASE + 0x04) /* DLAB = 1 */
#define U0IER REG(UART0_BASE + 0x04) /* DLAB = 0 */
#define U0FCR REG(UART0_BASE + 0x08)
#define U0LCR REG(UART0_BASE + 0x0C)
#define U0LSR REG(UART0_BASE + 0x14)
#define U0ACR REG(UART0_BASE + 0x20)
#define U0FDR REG(UART0_BASE + 0x28)
#define U0TER REG(UART0_BASE + 0x30)

#define LSR_RDR 0x01u  /* a received byte waits in the FIFO */
#define LSR_THRE 0x20u /* room in the transmit FIFO */
#define LSR_TEMT 0x40u /* transmitter idle: FIFO and shift register empty */

/* Watchdog registers; WDT_BASE comes from the family header. */
#define WDMOD REG(WDT_BASE + 0x00)
#define WDTC REG(WDT_BASE + 0x04)
#define WDFEED REG(WDT_BASE + 0x08)
#define WDCLKSEL REG(WDT_BASE + 0x10) /* LPC23xx/24xx and LPC17xx only */

/* Sets up UART0 for 8N1 at PCLK / (16 x divisor x (1 + DivAddVal / MulVal)), polled,
 * FIFOs on and emptied. `fdr` is the value for the fractional divider register. */
static void uart0_setup(uint32_t divisor, uint32_t fdr)
{
    U0LCR = 0x03;         /* DLAB off to reach IER */
    U0IER = 0;            /* no interrupts: the routine polls */
    U0LCR = 0x83;         /* DLAB on, 8 data bits, no parity, 1 stop bit */
    U0DLL = divisor;
    U0DLM = 0;
    U0LCR = 0x03;         /* DLAB off */
    U0FDR = fdr;
    U0ACR = 0;            /* stop any auto-baud run the boot ROM left behind */
    U0FCR = 0x07;         /* FIFOs on, both emptied */
    U0TER = 0x80;         /* transmitter enabled */
}

/* Waits (bounded) until the last byte written has left the transmitter. */
static void uart0_drain(void)
{
    for (uint32_t n = 1u << 22; n != 0 && !(U0LSR & LSR_TEMT); n--) {
    }
}

/* Resets the part through its watchdog: the shortest time-out, reset mode, one feed
 * to start it. The boot ROM ignores its ISP entry pin after a watchdog reset and
 * starts the user code if it is valid. */
static void __attribute__((noreturn)) watchdog_reset(void)
{
    uart0_drain(); /* the acknowledge goes out before the reset */
#ifdef HAS_WDCLKSEL
    WDCLKSEL = 0; /* clocked from the internal RC oscillator */
#endif
    WDTC = 0xFF;
    WDMOD = 0x03; /* WDEN | WDRESET */
    WDFEED = 0xAA;
    WDFEED = 0x55;
    for (;;) {
    }
}

#endif
