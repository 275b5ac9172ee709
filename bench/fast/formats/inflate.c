/* A small raw-deflate decoder (RFC 1951), written for the format comparison of
 * bench/fast/formats: what the RAM routine would carry to take zlib's blocks. Built for
 * the Cortex-M3 with the routines' flags, run on the emulated CPU. Tables in RAM, built
 * per block as the stream's code lengths say. */
#include <stdint.h>

struct tree {
    uint16_t counts[16];  /* codes per length */
    uint16_t symbols[288];
};

struct inflater {
    const uint8_t *in, *end;
    uint32_t bits, count;
    uint8_t *out, *out_start, *out_end;
    struct tree lengths, distances;
};

static int bit(struct inflater *s)
{
    if (s->count == 0) {
        if (s->in == s->end) return -1;
        s->bits = *s->in++;
        s->count = 8;
    }
    s->count--;
    int b = s->bits & 1;
    s->bits >>= 1;
    return b;
}

static int bits(struct inflater *s, int n, int base)
{
    int v = 0;
    for (int i = 0; i < n; i++) {
        int b = bit(s);
        if (b < 0) return -1;
        v |= b << i;
    }
    return v + base;
}

static void build(struct tree *t, const uint8_t *lengths, int n)
{
    uint16_t offsets[16];
    for (int i = 0; i < 16; i++) t->counts[i] = 0;
    for (int i = 0; i < n; i++) t->counts[lengths[i]]++;
    t->counts[0] = 0;
    offsets[1] = 0;
    for (int i = 1; i < 15; i++) offsets[i + 1] = offsets[i] + t->counts[i];
    for (int i = 0; i < n; i++)
        if (lengths[i]) t->symbols[offsets[lengths[i]]++] = (uint16_t)i;
}

static int decode(struct inflater *s, const struct tree *t)
{
    int code = 0, first = 0, index = 0;
    for (int len = 1; len < 16; len++) {
        int b = bit(s);
        if (b < 0) return -1;
        code |= b;
        int count = t->counts[len];
        if (code - count < first) return t->symbols[index + (code - first)];
        index += count;
        first += count;
        first <<= 1;
        code <<= 1;
    }
    return -1;
}

static const uint16_t length_base[29] = {3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27,
                                         31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
static const uint8_t length_extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
static const uint16_t distance_base[30] = {1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129,
                                           193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
static const uint8_t distance_extra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
static const uint8_t order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

static int codes(struct inflater *s)
{
    for (;;) {
        int sym = decode(s, &s->lengths);
        if (sym < 0) return 0;
        if (sym < 256) {
            if (s->out == s->out_end) return 0;
            *s->out++ = (uint8_t)sym;
        } else if (sym == 256) {
            return 1;
        } else {
            sym -= 257;
            if (sym >= 29) return 0;
            int len = bits(s, length_extra[sym], length_base[sym]);
            int d = decode(s, &s->distances);
            if (len < 0 || d < 0 || d >= 30) return 0;
            int dist = bits(s, distance_extra[d], distance_base[d]);
            if (dist < 0 || dist > s->out - s->out_start || len > s->out_end - s->out) return 0;
            const uint8_t *from = s->out - dist;
            while (len--) *s->out++ = *from++;
        }
    }
}

static int dynamic_trees(struct inflater *s)
{
    uint8_t lengths[288 + 32];
    int hlit = bits(s, 5, 257), hdist = bits(s, 5, 1), hclen = bits(s, 4, 4);
    if (hlit < 0 || hdist < 0 || hclen < 0) return 0;
    for (int i = 0; i < 19; i++) lengths[order[i]] = 0;
    for (int i = 0; i < hclen; i++) {
        int v = bits(s, 3, 0);
        if (v < 0) return 0;
        lengths[order[i]] = (uint8_t)v;
    }
    build(&s->lengths, lengths, 19);
    for (int n = 0; n < hlit + hdist;) {
        int sym = decode(s, &s->lengths);
        int repeat = 0, value = 0;
        if (sym < 0) return 0;
        if (sym < 16) {
            lengths[n++] = (uint8_t)sym;
            continue;
        }
        if (sym == 16) {
            if (n == 0) return 0;
            value = lengths[n - 1];
            repeat = bits(s, 2, 3);
        } else {
            repeat = sym == 17 ? bits(s, 3, 3) : bits(s, 7, 11);
        }
        if (repeat < 0 || n + repeat > hlit + hdist) return 0;
        while (repeat--) lengths[n++] = (uint8_t)value;
    }
    build(&s->lengths, lengths, hlit);
    build(&s->distances, lengths + hlit, hdist);
    return 1;
}

static void fixed_trees(struct inflater *s)
{
    uint8_t lengths[288];
    int i = 0;
    for (; i < 144; i++) lengths[i] = 8;
    for (; i < 256; i++) lengths[i] = 9;
    for (; i < 280; i++) lengths[i] = 7;
    for (; i < 288; i++) lengths[i] = 8;
    build(&s->lengths, lengths, 288);
    for (i = 0; i < 30; i++) lengths[i] = 5;
    build(&s->distances, lengths, 30);
}

/* 1 when the raw deflate stream `in` (n bytes) holds exactly `length` bytes. */
int inflate_block(const uint8_t *in, uint32_t n, uint8_t *out, uint32_t length, struct inflater *s)
{
    s->in = in;
    s->end = in + n;
    s->count = 0;
    s->out = s->out_start = out;
    s->out_end = out + length;
    for (;;) {
        int last = bit(s), type = bits(s, 2, 0);
        if (last < 0 || type < 0) return 0;
        if (type == 0) {
            s->count = 0;
            if (s->end - s->in < 4) return 0;
            uint32_t len = s->in[0] | s->in[1] << 8;
            s->in += 4;
            if (len > (uint32_t)(s->end - s->in) || len > (uint32_t)(s->out_end - s->out)) return 0;
            while (len--) *s->out++ = *s->in++;
        } else if (type == 1) {
            fixed_trees(s);
            if (!codes(s)) return 0;
        } else if (type == 2) {
            if (!dynamic_trees(s) || !codes(s)) return 0;
        } else {
            return 0;
        }
        if (last) return s->out == s->out_end;
    }
}
