/* The packed-block routines (built with -DCOMPRESSED): gen_iap.c's commands, less 'W',
 * plus 'Z', a frame of packed data that the routine unpacks into its buffer and
 * programs. Every byte the routine takes comes through a ring in RAM, which the host
 * names in the parameter block:
 *
 *   - on the LPC17xx the GPDMA fills it from UART0's receive FIFO, so bytes keep coming
 *     in while the CPU sits in an IAP call (the flash cannot be read then, and the
 *     routine is polled: without the DMA, UART0's 16-byte FIFO would overrun within
 *     a fraction of a millisecond at these rates). The host keeps sending while a
 *     block is programmed, as long as what it sent past the last answer fits the ring;
 *   - on the ARM7 parts, whose GPDMA does not serve the UART, the CPU moves the bytes
 *     whenever it waits for input, and the host sends a frame only once the one before
 *     it is answered.
 *
 *   'Z' sequence number, address LE32, length LE16, size LE16, CRC-16 of those nine
 *       bytes (high byte first, so that the CRC over eleven bytes is 0), `size` packed
 *       bytes (size equal to length: the bytes as they are), CRC-16 LE of the packed
 *       bytes
 *       -> ACK once the flash holds the unpacked block; NAK for a damaged frame, a block
 *          that does not unpack to exactly `length` bytes, a range outside sectors 0 to
 *          the last one, an address not on a 256-byte page, an IAP error or a read-back
 *          that differs; CAN when the header's own CRC fails
 *
 * Each answer is three bytes: the status, the frame's sequence number (whatever stood
 * in its place after a damaged header) and the complement of the two XORed, so that a
 * host with several frames on their way knows which one an answer is for, and a byte
 * lost or damaged on the way back does not pass for an answer.
 *
 * From the first 'Z' on the routine takes frames only: any other byte where a frame
 * should start (a lost 'Z', a frame cut short) is answered with CAN and starts the
 * hunt below, so that no byte of a damaged frame is ever run as a command (an 'E' in
 * the data would erase the flash). After a CAN the frame's length is unknown, so
 * nothing that follows can be trusted to start a frame: the routine answers nothing
 * more until it finds the resync frame, 'Z' 00 FFFFFFFF 0000 0000 with its CRC and the
 * CRC of no bytes (FF FF), which it answers with ACK. The host sends that frame behind
 * enough filler to complete any frame the routine may still be reading, and once more
 * at the end of its frames: the routine then takes commands again. */
#ifndef LPC_COMPRESSED_H
#define LPC_COMPRESSED_H

#include "unpack.h"

#define CAN 0x18
#define RESYNC_ADDRESS 0xFFFFFFFFu
#define PARAM_DMA 0x01u /* the GPDMA fills the ring */

/* Where the routine keeps its input state (it has no data section): placed by the
 * linker script behind the buffer. */
struct lpc_input {
    uint8_t *ring;
    uint32_t mask; /* ring size - 1, a power of two less one */
    uint32_t head; /* bytes received, counted from the start */
    uint32_t tail; /* bytes taken */
    uint32_t dma;
};
extern struct lpc_input lpc_input;

/* CRC-16/CCITT-FALSE a byte at a time from a table, built in RAM at the start rather
 * than loaded with the image: a frame's CRC is a good part of the routine's work per
 * block, and the CPU's time adds to the flash's. */
extern uint16_t lpc_crc_table[256];

static void crc_table_setup(void)
{
    for (uint32_t b = 0; b < 256; b++) {
        uint32_t c = b << 8;
        for (int k = 0; k < 8; k++) c = c & 0x8000 ? c << 1 ^ 0x1021 : c << 1;
        lpc_crc_table[b] = (uint16_t)c;
    }
}

#if defined(__thumb__) && !defined(__thumb2__)
/* Thumb code on an ARM7 has no divide instruction; the clock set-up divides once. */
unsigned __aeabi_uidiv(unsigned n, unsigned d);
unsigned __aeabi_uidiv(unsigned n, unsigned d)
{
    unsigned q = 0;
    for (int bit = 31; bit >= 0; bit--)
        if ((n >> bit) >= d) {
            n -= d << bit;
            q |= 1u << bit;
        }
    return q;
}
#endif

#ifdef HAS_UART_DMA
#define PCONP_PCGPDMA (1u << 29)
#define DMAC_BASE 0x50004000u
#define DMACINTTCCLEAR REG(DMAC_BASE + 0x008)
#define DMACINTERRCLR REG(DMAC_BASE + 0x010)
#define DMACCONFIG REG(DMAC_BASE + 0x030)
#define DMACC0SRCADDR REG(DMAC_BASE + 0x100)
#define DMACC0DESTADDR REG(DMAC_BASE + 0x104)
#define DMACC0LLI REG(DMAC_BASE + 0x108)
#define DMACC0CONTROL REG(DMAC_BASE + 0x10C)
#define DMACC0CONFIG REG(DMAC_BASE + 0x110)
#define DMAREQSEL REG(SC_BASE + 0x1C4)
#define DMA_UART0_RX 9u
#define DMA_SEGMENT 2048u /* a transfer counts 12 bits: the ring is a loop of segments */

/* One segment of the loop, as the GPDMA reads it from RAM. */
struct lpc_lli {
    uint32_t source, destination, next, control;
};
extern struct lpc_lli lpc_lli[];

static void dma_setup(uint8_t *ring, uint32_t size)
{
    PCONP |= PCONP_PCGPDMA;
    DMACCONFIG = 1;                   /* on, little-endian */
    DMAREQSEL &= ~(1u << 1);          /* request 9 is UART0's receiver, not timer 0 match 1 */
    DMACINTTCCLEAR = 0xFF;
    DMACINTERRCLR = 0xFF;
    /* Bytes from the receive buffer register, single transfers, the destination
     * counting up. */
    const uint32_t control = DMA_SEGMENT | 1u << 27;
    const uint32_t segments = size / DMA_SEGMENT;
    for (uint32_t i = 0; i < segments; i++) {
        lpc_lli[i].source = UART0_BASE;
        lpc_lli[i].destination = (uint32_t)ring + i * DMA_SEGMENT;
        lpc_lli[i].next = (uint32_t)&lpc_lli[(i + 1) % segments];
        lpc_lli[i].control = control;
    }
    DMACC0SRCADDR = UART0_BASE;
    DMACC0DESTADDR = (uint32_t)ring;
    DMACC0LLI = lpc_lli[0].next;
    DMACC0CONTROL = control;
    U0FCR = 0x0F; /* FIFOs on and emptied, DMA mode: the receiver asks for every byte */
    DMACC0CONFIG = 1u | DMA_UART0_RX << 1 | 2u << 11; /* enabled, peripheral to memory */
}
#endif

static void input_setup(void)
{
    crc_table_setup();
    uint32_t size = lpc_params.ring_size;
    lpc_input.ring = (uint8_t *)lpc_params.ring;
    lpc_input.head = lpc_input.tail = 0;
    lpc_input.dma = 0;
    /* Not a power of two: no ring, and every frame is refused. */
    lpc_input.mask = (size & (size - 1)) == 0 && size >= 256 ? size - 1 : 0;
#ifndef HAS_UART_DMA
    /* The Ethernet RAM of the LPC23xx/24xx (the LPC2364's 8 KiB of local RAM hold no
     * ring) is reached with the Ethernet block powered. */
    if (((uint32_t)lpc_input.ring >> 20) == 0x7FE) PCONP |= 1u << 30;
#else
    if ((lpc_params.flags & PARAM_DMA) && lpc_input.mask >= DMA_SEGMENT - 1) {
        dma_setup(lpc_input.ring, size);
        lpc_input.dma = 1;
    }
#endif
}

/* Takes in what has arrived since the last look. */
static void input_update(void)
{
    struct lpc_input *in = &lpc_input;
#ifdef HAS_UART_DMA
    if (in->dma) {
        const uint32_t at = (DMACC0DESTADDR - (uint32_t)in->ring) & in->mask;
        in->head += (at - in->head) & in->mask;
        return;
    }
#endif
    /* One byte a look: the loops around look again. */
    if (U0LSR & LSR_RDR) in->ring[in->head++ & in->mask] = (uint8_t)U0RBR;
}

/* The number of bytes waiting, after a look at the line. */
static uint32_t input_waiting(void)
{
    input_update();
    return lpc_input.head - lpc_input.tail;
}

static uint8_t input_at(uint32_t k)
{
    return lpc_input.ring[(lpc_input.tail + k) & lpc_input.mask];
}

/* A byte at a time: the line is looked at only when what came is used up, so that a
 * request read byte by byte does not look at it for every byte. */
static uint32_t get(void)
{
    while (lpc_input.head == lpc_input.tail) input_update();
    return lpc_input.ring[lpc_input.tail++ & lpc_input.mask];
}

static int32_t get_within(uint32_t polls)
{
    do {
        if (lpc_input.head == lpc_input.tail) input_update();
        if (lpc_input.head != lpc_input.tail) return lpc_input.ring[lpc_input.tail++ & lpc_input.mask];
    } while (--polls != 0);
    return -1;
}

static void wait_for(uint32_t n)
{
    while (input_waiting() < n) {
    }
}

/* 1 when the flash holds these bytes already (an erased cell reads 0xFF). Word by
 * word: `address` and `bytes` are on words, `n` a multiple of 256. */
static int same_as_flash(uint32_t address, const uint8_t *bytes, uint32_t n)
{
    const volatile uint32_t *flash = (const volatile uint32_t *)address;
    const uint32_t *words = (const uint32_t *)bytes;
    for (n /= 4; n != 0; n--)
        if (*flash++ != *words++) return 0;
    return 1;
}

/* The resync frame: 'Z', sequence number 0, address FFFFFFFF, length and size 0, their
 * CRC, the CRC of nothing. Looks at the bytes from `k` on; 1 when they are that frame. */
#define RESYNC_BYTES 14u
static int resync_at(uint32_t k)
{
    static const uint8_t frame[RESYNC_BYTES] = {'Z', 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0x27, 0x5C, 0xFF, 0xFF};
    for (uint32_t i = 0; i < sizeof frame; i++)
        if (input_at(k + i) != frame[i]) return 0;
    return 1;
}

/* After a damaged header: skip everything up to and including the resync frame. The
 * line is looked at again only when what came is used up. */
static void hunt_resync(void)
{
    for (;;) {
        for (uint32_t waiting = input_waiting(); waiting >= RESYNC_BYTES; waiting--, lpc_input.tail++) {
            if (resync_at(0)) {
                lpc_input.tail += RESYNC_BYTES;
                return;
            }
        }
    }
}

/* The rest of a 'Z' frame, read, checked, unpacked and programmed. Returns the status,
 * the sequence number in bits 15:8, and bit 16 for the resync frame. */
static uint32_t packed_frame(uint32_t block, uint32_t flash_end, uint32_t cclk_khz)
{
    uint8_t *const buffer = (uint8_t *)lpc_buffer;
    struct lpc_input *in = &lpc_input;
    uint8_t h[11];
    wait_for(sizeof h);
    uint32_t crc = 0xFFFF;
    for (uint32_t i = 0; i < sizeof h; i++) crc = crc16(crc, h[i] = input_at(i));
    const uint32_t seq = (uint32_t)h[0] << 8;
    /* A header that cannot be trusted, or no ring to read the frame from. */
    if (crc != 0 || in->mask == 0) return seq | CAN;
    const uint32_t address = h[1] | h[2] << 8 | h[3] << 16 | (uint32_t)h[4] << 24;
    const uint32_t length = h[5] | h[6] << 8;
    const uint32_t size = h[7] | h[8] << 8;
    in->tail += sizeof h;

    /* The frame's bytes must fit the ring at once: for one that cannot, the routine
     * hunts for the resync frame. */
    if (size + 2 > in->mask + 1) return seq | CAN;
    wait_for(size + 2);
    const uint32_t at = in->tail;
    crc = 0xFFFF;
    for (uint32_t i = at; i != at + size; i++)
        crc = (crc << 8 ^ lpc_crc_table[(crc >> 8 ^ in->ring[i & in->mask]) & 0xFF]) & 0xFFFF;
    const uint32_t sent = input_at(size) | input_at(size + 1) << 8;
    in->tail += size + 2;
    if (address == RESYNC_ADDRESS && length == 0 && size == 0) return crc == sent ? 1u << 16 | seq | ACK : seq | NAK;
    /* A length of 0 wraps round and fails the bounds. */
    if (crc != sent || length - 1u >= block || address % PAGE != 0 || address >= flash_end ||
        length - 1u >= flash_end - address || size > length)
        return seq | NAK;
    if (size == length) {
        for (uint32_t i = 0; i < length; i++) buffer[i] = in->ring[(at + i) & in->mask];
    } else if (!unpack(in->ring, in->mask, at, size, buffer, length)) {
        return seq | NAK;
    }

    const uint32_t total = (length + PAGE - 1) & ~(PAGE - 1);
    for (uint32_t i = length; i < total; i++) buffer[i] = 0xFF;
    /* Copies of 4096, 1024, 512 or 256 bytes, each aligned to its size, so that none
     * crosses a sector. */
    for (uint32_t done = 0, n; done < total; done += n) {
        n = 4096;
        while (n > total - done || ((address + done) & (n - 1)) != 0) n = n == 4096 ? 1024 : n / 2;
        /* Nothing to do where the flash already holds the data: blank runs, and a block
         * sent again after its answer was lost. */
        if (same_as_flash(address + done, buffer + done, n)) continue;
        const uint32_t sector = flash_sector(address + done);
        if (iap(IAP_PREPARE, sector, sector, 0, 0) != IAP_SUCCESS ||
            iap(IAP_COPY, address + done, (uint32_t)(buffer + done), n, cclk_khz) != IAP_SUCCESS)
            return seq | NAK;
    }
    /* Read back, the padding too: a cell that was not erased reads differently. */
    return seq | (same_as_flash(address, buffer, total) ? ACK : NAK);
}

static void answer(uint32_t status, uint32_t seq)
{
    put(status);
    put(seq);
    put(~(status ^ seq));
}

/* A byte where a frame may start, and what follows it. Returns 1 while the routine
 * takes frames only. */
static uint32_t packed_command(uint32_t command, uint32_t block, uint32_t flash_end, uint32_t cclk_khz)
{
    if (command == 'Z') {
        const uint32_t result = packed_frame(block, flash_end, cclk_khz);
        answer(result & 0xFF, (result >> 8) & 0xFF);
        if ((result & 0xFF) != CAN) return !(result >> 16);
    } else {
        answer(CAN, command);
    }
    hunt_resync();
    answer(ACK, 0);
    return 0;
}

#endif
