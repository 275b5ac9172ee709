#include "memory.hpp"

#include <algorithm>

FlashMemory::FlashMemory(uint32_t base, uint32_t size, bool overwrite)
    : base_(base), cells_(size, 0xFF), overwrite_(overwrite) {}

void FlashMemory::EraseAll() {
    std::fill(cells_.begin(), cells_.end(), 0xFF);
    written_.clear();
}

WriteResult FlashMemory::Write(uint32_t address, std::span<const uint8_t> data, uint32_t& where) {
    uint64_t start = address;
    uint64_t end = start + data.size();
    if (start < base_ || end > uint64_t{base_} + cells_.size()) {
        where = start < base_ ? address : static_cast<uint32_t>(std::max<uint64_t>(start, uint64_t{base_} + cells_.size()));
        return WriteResult::OutOfRange;
    }
    uint8_t* cell = cells_.data() + (address - base_);
    if (!overwrite_) {
        for (size_t i = 0; i < data.size(); ++i) {
            if ((cell[i] & data[i]) != data[i]) {
                where = address + static_cast<uint32_t>(i);
                return WriteResult::NotErased;
            }
        }
    }
    std::copy(data.begin(), data.end(), cell);
    if (!data.empty()) MarkWritten(start, end);
    return WriteResult::Ok;
}

void FlashMemory::MarkWritten(uint64_t start, uint64_t end) {
    // Merge with every range that overlaps or touches [start, end).
    auto it = written_.upper_bound(start);
    if (it != written_.begin() && std::prev(it)->second >= start) --it;
    while (it != written_.end() && it->first <= end) {
        start = std::min(start, it->first);
        end = std::max(end, it->second);
        it = written_.erase(it);
    }
    written_[start] = end;
}
