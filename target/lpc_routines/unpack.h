/* Unpacks a block packed by the host (src/drivers/lpc/pack.cpp): LZ77 over the block
 * itself, no dictionary beyond it, so that every block unpacks on its own and a block
 * sent again needs nothing sent before it.
 *
 * The stream mixes whole bytes and single bits. Bits are taken most significant first
 * from a bit byte, and a new bit byte is the next byte of the stream whenever a bit is
 * wanted and the last bit byte is used up. Tokens, until the block is complete:
 *
 *   0, byte                      a literal
 *   1, G(hi + 1), low, G(n - 1)  a copy of n >= 2 bytes from offset hi * 256 + low + 1
 *                                back in the output
 *
 * G(v) is the Elias gamma code of v >= 1: as many 0 bits as v has bits after its
 * leading 1, then v's bits from that 1 down. Literal bytes and the low offset byte are
 * whole bytes of the stream. No table and no state beyond a few registers: the code is
 * small, and the part unpacks a 4 KiB block in well under a millisecond.
 *
 * The input is a ring of mask + 1 bytes (a power of two) read from `at`: a damaged
 * stream reads stale ring bytes, never memory outside it, and never writes outside
 * `out[0..length)`. Compiled into the routines and into the host's unit test. */
#ifndef LPC_UNPACK_H
#define LPC_UNPACK_H

#include <stdint.h>

/* The bit reader: the bit byte shifted left as its bits are taken, with a marker bit
 * behind the last one, so that one test tells when it is used up. Kept in locals: the
 * per-byte work is most of the routine's time per block after the flash's own. */
#define UNPACK_BIT(bit)                                 \
    do {                                                \
        if ((byte & 0x7F) == 0) {                       \
            byte = (uint32_t)ring[at++ & mask] << 1 | 1; \
        } else {                                        \
            byte <<= 1;                                 \
        }                                               \
        (bit) = byte >> 8 & 1;                          \
        byte &= 0xFF;                                   \
    } while (0)

struct unpack_state {
    const uint8_t *ring;
    uint32_t mask, at, byte;
};

/* Elias gamma; 0 for a code longer than any the packer writes (a damaged stream). */
static uint32_t unpack_gamma(struct unpack_state *s)
{
    const uint8_t *ring = s->ring;
    uint32_t mask = s->mask, at = s->at, byte = s->byte, bit, zeros = 0, value = 1;
    for (;;) {
        UNPACK_BIT(bit);
        if (bit) break;
        if (++zeros > 12) return 0;
    }
    while (zeros--) {
        UNPACK_BIT(bit);
        value = value << 1 | bit;
    }
    s->at = at;
    s->byte = byte;
    return value;
}

/* 1 when the `size` stream bytes at `start` make exactly `length` output bytes. */
static int unpack(const uint8_t *ring, uint32_t mask, uint32_t start, uint32_t size, uint8_t *out, uint32_t length)
{
    uint32_t at = start, byte = 0, bit, done = 0;
    while (done < length) {
        UNPACK_BIT(bit);
        if (!bit) {
            out[done++] = ring[at++ & mask];
            continue;
        }
        struct unpack_state s = {ring, mask, at, byte};
        const uint32_t hi = unpack_gamma(&s);
        const uint32_t offset = ((hi - 1) << 8 | ring[s.at++ & mask]) + 1;
        uint32_t n = unpack_gamma(&s) + 1;
        at = s.at;
        byte = s.byte;
        /* hi 0 or n 1: a damaged code; the copy must start inside the output so far
         * and end inside the block. */
        if (hi == 0 || n == 1 || offset > done || n > length - done) return 0;
        const uint8_t *from = out + done - offset;
        uint8_t *to = out + done;
        done += n;
        while (n--) *to++ = *from++; /* byte by byte: an offset below n repeats */
    }
    return at - start == size;
}

#endif
