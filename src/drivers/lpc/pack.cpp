#include "drivers/lpc/pack.hpp"

#include <algorithm>
#include <array>
#include <limits>

namespace {
// Offsets reach back over the whole block: a copy may start anywhere before it.
constexpr size_t kMaxOffset = 4096 * 16;
constexpr int kChainDepth = 16;      // earlier positions tried per position: deeper gains little
constexpr size_t kShortLengths = 32;  // copy lengths tried one by one; longer ones only at their longest

int GammaBits(uint32_t v) {
    int bits = 0;
    while (v >> bits) ++bits;
    return 2 * bits - 1;
}

struct Match {
    uint32_t offset;
    uint32_t length;
};

class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}
    void Bit(uint32_t bit) {
        if (left_ == 0) {
            at_ = out_.size();
            out_.push_back(0);
            left_ = 8;
        }
        --left_;
        out_[at_] = static_cast<uint8_t>(out_[at_] | (bit & 1u) << left_);
    }
    void Gamma(uint32_t v) {
        int bits = 0;
        while (v >> (bits + 1)) ++bits;
        for (int i = 0; i < bits; ++i) Bit(0);
        for (int i = bits; i >= 0; --i) Bit(v >> i);
    }
    void Byte(uint8_t b) { out_.push_back(b); }

private:
    std::vector<uint8_t>& out_;
    size_t at_ = 0;
    int left_ = 0;
};
}  // namespace

std::vector<uint8_t> PackBlock(const uint8_t* data, size_t n) {
    // The matches at each position, nearest first, each longer than the one before.
    std::vector<std::vector<Match>> matches(n);
    std::vector<int32_t> head(1 << 16, -1), previous(n, -1);
    for (size_t i = 0; i + 1 < n; ++i) {
        const uint32_t key = data[i] | data[i + 1] << 8;
        uint32_t best = 1;
        int depth = 0;
        for (int32_t j = head[key]; j >= 0 && depth < kChainDepth && i - j <= kMaxOffset; j = previous[j], ++depth) {
            uint32_t length = 0;
            while (i + length < n && data[j + length] == data[i + length]) ++length;
            if (length > best) {
                best = length;
                matches[i].push_back({static_cast<uint32_t>(i - j), length});
            }
        }
        previous[i] = head[key];
        head[key] = static_cast<int32_t>(i);
    }

    // Cheapest way from each position to the end, in bits.
    constexpr uint64_t kNone = std::numeric_limits<uint64_t>::max();
    std::vector<uint64_t> cost(n + 1, kNone);
    std::vector<Match> step(n);  // length 1: a literal
    cost[n] = 0;
    for (size_t i = n; i-- > 0;) {
        cost[i] = 9 + cost[i + 1];
        step[i] = {0, 1};
        size_t from = 2;
        for (const Match& m : matches[i]) {
            const uint64_t offsetBits = 1 + GammaBits(((m.offset - 1) >> 8) + 1) + 8;
            auto consider = [&](size_t length) {
                uint64_t c = offsetBits + GammaBits(static_cast<uint32_t>(length - 1)) + cost[i + length];
                if (c < cost[i]) {
                    cost[i] = c;
                    step[i] = {m.offset, static_cast<uint32_t>(length)};
                }
            };
            for (size_t length = from; length <= m.length && length <= kShortLengths; ++length) consider(length);
            if (m.length > kShortLengths) consider(m.length);
            from = m.length + 1;
        }
    }

    std::vector<uint8_t> out;
    BitWriter writer(out);
    for (size_t i = 0; i < n; i += step[i].length) {
        if (step[i].length == 1) {
            writer.Bit(0);
            writer.Byte(data[i]);
            continue;
        }
        const uint32_t offset = step[i].offset - 1;
        writer.Bit(1);
        writer.Gamma((offset >> 8) + 1);
        writer.Byte(static_cast<uint8_t>(offset));
        writer.Gamma(step[i].length - 1);
    }
    return out;
}
