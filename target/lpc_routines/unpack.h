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

struct unpack_bits {
    const uint8_t *ring;
    uint32_t mask;
    uint32_t at;    /* next stream byte */
    uint32_t byte;  /* the bit byte, its used bits shifted out at the top */
    uint32_t left;  /* bits left in it */
};

static uint32_t unpack_bit(struct unpack_bits *s)
{
    if (s->left == 0) {
        s->byte = s->ring[s->at++ & s->mask];
        s->left = 8;
    }
    s->left--;
    return (s->byte >> s->left) & 1u;
}

/* Elias gamma; 0 for a code longer than any the packer writes (a damaged stream). */
static uint32_t unpack_gamma(struct unpack_bits *s)
{
    uint32_t zeros = 0;
    while (!unpack_bit(s))
        if (++zeros > 12) return 0;
    uint32_t value = 1;
    while (zeros--) value = value << 1 | unpack_bit(s);
    return value;
}

/* 1 when the `size` stream bytes at `at` make exactly `length` output bytes. */
static int unpack(const uint8_t *ring, uint32_t mask, uint32_t at, uint32_t size, uint8_t *out, uint32_t length)
{
    struct unpack_bits s = {ring, mask, at, 0, 0};
    uint32_t done = 0;
    while (done < length) {
        if (!unpack_bit(&s)) {
            out[done++] = ring[s.at++ & mask];
            continue;
        }
        const uint32_t hi = unpack_gamma(&s);
        const uint32_t offset = ((hi - 1) << 8 | ring[s.at++ & mask]) + 1;
        uint32_t n = unpack_gamma(&s) + 1;
        /* hi 0 or n 1: a damaged code; the copy must start inside the output so far
         * and end inside the block. */
        if (hi == 0 || n == 1 || offset > done || n > length - done) return 0;
        const uint8_t *from = out + done - offset;
        uint8_t *to = out + done;
        done += n;
        while (n--) *to++ = *from++; /* byte by byte: an offset below n repeats */
    }
    return s.at - at == size;
}

#endif
