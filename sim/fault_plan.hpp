// The fault plan: which of the target's replies are lost, garbled, doubled, delayed, cut
// short or turned into refusals. Every reply a protocol sends goes by a key it names (a
// command letter, "entry", a return code...); replies are counted per key from 1, and
// over all keys for the key "*".
//
// Plan syntax (--fault=PLAN, items separated by ';'):
//     KIND[:ARG]@KEY          every reply for KEY
//     KIND[:ARG]@KEY#N        the Nth reply for KEY
//     KIND[:ARG]@KEY#N-M      the Nth to the Mth
//     KIND[:ARG]@KEY#N-       the Nth and all after it
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

enum class FaultKind { Nak, Corrupt, Short, Dup, Late, Drop };  // the order they are applied in

struct FaultItem {
    FaultKind kind = FaultKind::Drop;
    uint32_t arg = 0;          // corrupt: the replacement byte; late: milliseconds
    bool hasArg = false;       // corrupt without it: the first byte's complement
    bool refusalByte = false;  // corrupt with the protocol's refusal byte (--corrupt-ack)
    std::string key = "*";
    uint32_t first = 1;
    uint32_t last = UINT32_MAX;
};

const char* FaultKindName(FaultKind kind);

// Appends the items of `text` to `items`; on failure `error` says what is wrong.
bool ParseFaultPlan(const std::string& text, std::vector<FaultItem>& items, std::string& error);

class FaultPlan {
public:
    explicit FaultPlan(const std::vector<FaultItem>& items) : items_(items) {}

    // Whether an item of `kind` hits the next reply for `key` (nothing is counted).
    bool Planned(std::string_view key, FaultKind kind) const;
    // Counts one reply for `key`; returns its number for that key and the items hitting it.
    uint32_t Count(std::string_view key, std::vector<const FaultItem*>& hits);
    // The same for a byte the target receives: counted for `key` only, not for "*", and
    // hit only by items that name `key`.
    uint32_t CountReceived(std::string_view key, std::vector<const FaultItem*>& hits);

private:
    bool Hits(const FaultItem& item, std::string_view key, uint32_t keyCount, uint32_t total) const;
    uint32_t KeyCount(std::string_view key) const;

    const std::vector<FaultItem>& items_;
    std::map<std::string, uint32_t, std::less<>> perKey_;
    uint32_t total_ = 0;
};
