// The packer of fast mode's compressed blocks against the unpacker the RAM routines run
// (target/lpc_routines/unpack.h, compiled here as it is on the part).
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "drivers/lpc/pack.hpp"

namespace {
#include "../target/lpc_routines/unpack.h"

// The stream in a ring of 8 KiB at an offset near its end, so that it wraps round.
bool Unpacks(const std::vector<uint8_t>& stream, std::vector<uint8_t>& out) {
    std::vector<uint8_t> ring(8192, 0xA5);
    const uint32_t at = 8192 - 100;
    for (size_t i = 0; i < stream.size(); ++i) ring[(at + i) & 8191] = stream[i];
    return unpack(ring.data(), 8191, at, static_cast<uint32_t>(stream.size()), out.data(),
                  static_cast<uint32_t>(out.size())) != 0;
}
}  // namespace

TEST(LpcPack, EveryKindOfBlockUnpacksToItselfAndDamageIsCaught) {
    std::mt19937 random(7);
    std::vector<uint8_t> noise(4096), erased(4096, 0xFF), code(4096), small = {0x42};
    for (uint8_t& b : noise) b = static_cast<uint8_t>(random());
    // Code-like: short instruction words from a small vocabulary, with repeats far back.
    for (size_t i = 0; i < code.size(); i += 2) {
        uint32_t word = random() % 97 * 0x1F1 + 0x4600;
        code[i] = static_cast<uint8_t>(word);
        code[i + 1] = static_cast<uint8_t>(word >> 8);
    }
    struct Case {
        const std::vector<uint8_t>* block;
        size_t most;  // bytes the stream may take at most
    };
    for (Case c : {Case{&noise, 4096 * 9 / 8 + 1}, Case{&erased, 8}, Case{&code, 3600}, Case{&small, 2}}) {
        const std::vector<uint8_t>& block = *c.block;
        std::vector<uint8_t> stream = PackBlock(block.data(), block.size());
        EXPECT_LE(stream.size(), c.most);
        std::vector<uint8_t> out(block.size());
        ASSERT_TRUE(Unpacks(stream, out));
        EXPECT_EQ(out, block);
        // A stream cut short, one byte too long, or asked for another length is refused.
        std::vector<uint8_t> other(block.size() + 1);
        EXPECT_FALSE(Unpacks(stream, other));
        std::vector<uint8_t> longer = stream;
        longer.push_back(0);
        EXPECT_FALSE(Unpacks(longer, out));
        // Damage anywhere stays inside the ring and the output (the sanitizer build
        // watches that); the routine's CRC is what refuses such a frame.
        for (size_t i = 0; i < stream.size(); i += 7) {
            std::vector<uint8_t> damaged = stream;
            damaged[i] ^= 0x5A;
            Unpacks(damaged, out);
        }
    }
}
