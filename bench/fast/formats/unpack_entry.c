/* The routines' unpacker as a function of its own, for the format comparison. */
#include "../../../target/lpc_routines/unpack.h"

int unpack_block(const uint8_t *in, uint32_t n, uint8_t *out, uint32_t length);
int unpack_block(const uint8_t *in, uint32_t n, uint8_t *out, uint32_t length)
{
    return unpack(in, 0xFFFFFFFFu, 0, n, out, length);
}
