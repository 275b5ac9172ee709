/* The programming routine's main loop: one-letter commands on UART0, each answered
 * with ACK (0x06) or, for a write or an erase that failed, NAK (0x15).
 *
 *   'C'  -> ACK                       synchronisation
 *   'I'  -> ACK, 0, 0, block size LE16
 *   'W' address LE32, length LE16, data, CRC-16/CCITT-FALSE LE16 over address,
 *        length and data -> ACK once the flash holds the data, else NAK
 *   'E'  -> ACK after sectors 0 to the last one are erased, else NAK
 *   'R' address LE32, length LE16, CRC-16 of both sent high byte first (so that the
 *        CRC over all eight bytes is 0) -> ACK, the flash bytes, their CRC-16 LE
 *   'S' the same request -> ACK and the CRC-16 LE of the flash bytes
 *        (both NAK a damaged request, a length of 0 and memory outside sectors 0 to
 *        the last sector)
 *   'X'  -> ACK, then a watchdog reset that starts the user code
 *
 * Any other byte is ignored. Flash is written and erased through the boot ROM's IAP
 * entry; the family header (LPC_FAMILY, given by the build) sets up the clock and
 * UART0 and knows the sector map. */
#include <stdint.h>

#include LPC_FAMILY /* the part family's registers, then routine.h */

#define ACK 0x06
#define NAK 0x15

#define PAGE 256u        /* IAP copy destinations lie on 256-byte boundaries */
#define MAX_BLOCK 4096u  /* the largest frame the buffer holds */

/* IAP commands and the status that reports success. */
#define IAP_PREPARE 50u
#define IAP_COPY 51u
#define IAP_ERASE 52u
#define IAP_SUCCESS 0u

volatile const struct lpc_params lpc_params __attribute__((section(".params"), used)) = LPC_PARAMS_INIT;

/* Placed by the linker script: word-aligned RAM of MAX_BLOCK + PAGE bytes, the largest
 * frame plus the padding up to the page boundaries on both sides. */
extern uint32_t lpc_buffer[];

void lpc_main(void) __attribute__((noreturn));

/* The IAP entry takes a command table in r0 and a result table in r1; its status
 * comes back in result[0]. It is Thumb code: the odd entry address makes the call
 * switch state, and it returns with BX LR. */
typedef void (*iap_entry)(uint32_t *command, uint32_t *result);

EARLY static uint32_t iap(uint32_t code, uint32_t p1, uint32_t p2, uint32_t p3, uint32_t p4)
{
    uint32_t command[5] = {code, p1, p2, p3, p4};
    uint32_t result[5];
    ((iap_entry)IAP_ENTRY)(command, result);
    return result[0];
}

EARLY static void put(uint32_t byte)
{
    while (!(U0LSR & LSR_THRE)) {
    }
    U0THR = byte;
}

#ifndef COMPRESSED
static uint32_t get(void)
{
    while (!(U0LSR & LSR_RDR)) {
    }
    return U0RBR & 0xFF;
}

/* A byte of a frame, or -1 when the line stays silent for `polls` polls: a frame cut
 * short (a byte lost on the line) ends with a NAK instead of swallowing the host's
 * next attempt as its remainder. */
EARLY static int32_t get_within(uint32_t polls)
{
    do {
        if (U0LSR & LSR_RDR) return (int32_t)(U0RBR & 0xFF);
    } while (--polls != 0);
    return -1;
}
#endif

/* CRC-16/CCITT-FALSE, polynomial 0x1021, one byte at a time. */
EARLY static uint32_t crc16(uint32_t crc, uint32_t byte)
{
    uint32_t x = ((crc >> 8) ^ byte) & 0xFF;
    x ^= x >> 4;
    return ((crc << 8) ^ (x << 12) ^ (x << 5) ^ x) & 0xFFFF;
}

#ifdef COMPRESSED
#include "compressed.h" /* input through a ring, the packed frame */
#endif

/* Receives `n` bytes of a frame, continuing its CRC; 0 when the line went silent. */
static int receive(uint8_t *to, uint32_t n, uint32_t *crc, uint32_t polls)
{
    for (uint32_t i = 0; i < n; i++) {
        int32_t c = get_within(polls);
        if (c < 0) return 0;
        *crc = crc16(*crc, (uint32_t)c);
        to[i] = (uint8_t)c;
    }
    return 1;
}

/* Sectors first to last: the IAP prepares and erases a range at once. */
static int erase_sectors(uint32_t first, uint32_t last, uint32_t cclk_khz)
{
    return iap(IAP_PREPARE, first, last, 0, 0) == IAP_SUCCESS && iap(IAP_ERASE, first, last, cclk_khz, 0) == IAP_SUCCESS;
}

#ifndef COMPRESSED
/* Receives the rest of a 'W' frame and programs it. The whole frame is read even when
 * it is refused, so that its bytes are never taken for commands. */
static int write_frame(uint32_t block, uint32_t flash_end, uint32_t cclk_khz, uint32_t polls)
{
    uint8_t *const buffer = (uint8_t *)lpc_buffer;
    uint32_t crc = 0xFFFF;
    uint8_t head[6];
    if (!receive(head, sizeof head, &crc, polls)) return 0;
    const uint32_t address = head[0] | head[1] << 8 | head[2] << 16 | (uint32_t)head[3] << 24;
    const uint32_t length = head[4] | head[5] << 8;
    /* A length of 0 wraps round and fails both length bounds. */
    const int fits = length - 1u < block && address < flash_end && length - 1u < flash_end - address;
    /* The data goes to the buffer at the address's offset in its page; the page's
     * other bytes are padded with 0xFF, which leaves flash cells as they are. */
    const uint32_t offset = address % PAGE;
    for (uint32_t i = 0; i < length; i++) {
        int32_t c = get_within(polls);
        if (c < 0) return 0;
        crc = crc16(crc, (uint32_t)c);
        if (fits) buffer[offset + i] = (uint8_t)c;
    }
    int32_t low = get_within(polls);
    if (low < 0) return 0;
    int32_t high = get_within(polls);
    if (high < 0 || !fits || crc != ((uint32_t)low | (uint32_t)high << 8)) return 0;

    const uint32_t base = address - offset;
    const uint32_t total = (offset + length + PAGE - 1) & ~(PAGE - 1);
    for (uint32_t i = 0; i < offset; i++) buffer[i] = 0xFF;
    for (uint32_t i = offset + length; i < total; i++) buffer[i] = 0xFF;

    /* Copy in the sizes the IAP accepts (4096, 1024, 512, 256 bytes), each aligned to
     * its own size, so that no copy crosses a sector boundary. */
    for (uint32_t done = 0, size; done < total; done += size) {
        size = 4096;
        while (size > total - done || ((base + done) & (size - 1)) != 0) size = size == 4096 ? 1024 : size / 2;
        const uint32_t sector = flash_sector(base + done);
        if (iap(IAP_PREPARE, sector, sector, 0, 0) != IAP_SUCCESS ||
            iap(IAP_COPY, base + done, (uint32_t)(buffer + done), size, cclk_khz) != IAP_SUCCESS)
            return 0;
    }
    /* Read back what was sent: a cell that was not erased reads differently. */
    const volatile uint8_t *flash = (const volatile uint8_t *)address;
    for (uint32_t i = 0; i < length; i++)
        if (flash[i] != buffer[offset + i]) return 0;
    return 1;
}
#endif

void lpc_main(void)
{
    /* The boot ROM's answer to the go command leaves at its own rate before the clock
     * and the UART change. */
    uart0_drain();
    const uint32_t cclk_khz = lpc_setup();
#ifdef COMPRESSED
    input_setup();
#endif
    uint32_t block = lpc_params.block_size;
    if (block == 0 || block > MAX_BLOCK) block = MAX_BLOCK;
    uint32_t last = lpc_params.last_sector;
    if (last > FLASH_LAST_SECTOR) last = FLASH_LAST_SECTOR;
    const uint32_t flash_end = flash_sector_start(last + 1);
    /* About two to three seconds of silence inside a frame: below the host's five
     * seconds of waiting for the acknowledge, far above any gap between its bytes. */
    const uint32_t polls = cclk_khz << 8;

#ifdef COMPRESSED
    uint32_t framing = 0;
#endif
    for (;;) {
        const uint32_t command = get();
#ifdef COMPRESSED
        if (command == 'Z' || framing) {
            framing = packed_command(command, block, flash_end, cclk_khz);
            continue;
        }
#endif
        switch (command) {
        case 'C':
            put(ACK);
            break;
        case 'I':
            put(ACK);
            put(0);
            put(0);
            put(block & 0xFF);
            put(block >> 8);
            break;
#ifndef COMPRESSED
        case 'W':
            put(write_frame(block, flash_end, cclk_khz, polls) ? ACK : NAK);
            break;
#endif
#ifndef COMPRESSED
        case 'E':
            put(erase_sectors(0, last, cclk_khz) ? ACK : NAK);
            break;
#else
        case 'E':
        case 'e':
#endif
        case 'R':
        case 'S': {
#ifdef COMPRESSED
            /* 'e' takes the request of 'R' and erases the sectors that hold those bytes,
             * so that a host that rewrites only what changed leaves the other sectors as
             * they are; 'E' erases them all. They share the request's reader and the
             * erase call, which keeps the routine within its room in RAM. */
            uint32_t first = 0, final = last;
            if (command == 'E') goto erase;
#endif
            uint8_t head[8];
            uint32_t crc = 0xFFFF;
            const int good = receive(head, sizeof head, &crc, polls);
            const uint8_t *flash = (const uint8_t *)(head[0] | head[1] << 8 | head[2] << 16 | (uint32_t)head[3] << 24);
            uint32_t length = head[4] | head[5] << 8;
            /* A length of 0 wraps round and fails the last bound. */
            if (!good || crc != 0 || (uint32_t)flash >= flash_end || length - 1u >= flash_end - (uint32_t)flash) {
                put(NAK);
                break;
            }
#ifdef COMPRESSED
            if (command == 'e') {
                first = flash_sector((uint32_t)flash);
                final = flash_sector((uint32_t)flash + length - 1);
            erase:
                put(erase_sectors(first, final, cclk_khz) ? ACK : NAK);
                break;
            }
#endif
            if (command == 'R') put(ACK);
            crc = 0xFFFF;
            while (length--) {
                const uint32_t byte = *(const volatile uint8_t *)flash++;
                if (command == 'R') put(byte);
                crc = crc16(crc, byte);
            }
            if (command == 'S') put(ACK);
            put(crc);
            put(crc >> 8);
            break;
        }
        case 'X':
            put(ACK);
            watchdog_reset();
        default:
            break;
        }
    }
}
