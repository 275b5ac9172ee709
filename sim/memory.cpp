#include "memory.hpp"

#include <algorithm>

namespace {

constexpr uint32_t kDefaultSectorSize = 4096;

// The first address of [start, end) that is not inside [regionStart, regionEnd).
uint32_t FirstOutside(uint64_t start, uint64_t end, uint64_t regionStart, uint64_t regionEnd) {
    if (start < regionStart || start >= regionEnd) return static_cast<uint32_t>(start);
    return static_cast<uint32_t>(std::min(end, regionEnd));
}

}  // namespace

std::vector<uint32_t> UniformSectors(uint32_t flashSize) {
    std::vector<uint32_t> sizes(flashSize / kDefaultSectorSize, kDefaultSectorSize);
    if (flashSize % kDefaultSectorSize) sizes.push_back(flashSize % kDefaultSectorSize);
    return sizes;
}

TargetMemory::TargetMemory(uint32_t flashBase, const std::vector<uint32_t>& sectorSizes, uint32_t ramBase,
                           uint32_t ramSize, bool overwrite)
    : base_(flashBase), overwrite_(overwrite), ramBase_(ramBase), ram_(ramSize, 0x00) {
    uint32_t offset = 0;
    for (uint32_t size : sectorSizes) {
        sectors_.push_back({flashBase + offset, size});
        offset += size;
    }
    cells_.assign(offset, 0xFF);
}

std::optional<size_t> TargetMemory::SectorAt(uint32_t address) const {
    if (!InFlash(address, uint64_t{address} + 1)) return std::nullopt;
    auto after = std::upper_bound(sectors_.begin(), sectors_.end(), address,
                                  [](uint32_t a, const Sector& s) { return a < s.start; });
    return static_cast<size_t>(after - sectors_.begin()) - 1;
}

void TargetMemory::EraseSector(size_t index) {
    const Sector& s = sectors_.at(index);
    std::fill_n(cells_.begin() + (s.start - base_), s.size, 0xFF);
    ForgetWritten(s.start, uint64_t{s.start} + s.size);
}

bool TargetMemory::EraseRange(size_t first, size_t last) {
    if (first > last || last >= sectors_.size()) return false;
    for (size_t i = first; i <= last; ++i) EraseSector(i);
    return true;
}

void TargetMemory::EraseAll() {
    std::fill(cells_.begin(), cells_.end(), 0xFF);
    written_.clear();
}

WriteResult TargetMemory::WriteFlash(uint32_t address, std::span<const uint8_t> data, uint32_t& where) {
    uint64_t start = address;
    uint64_t end = start + data.size();
    if (!InFlash(start, end)) {
        where = FirstOutside(start, end, base_, uint64_t{base_} + cells_.size());
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

WriteResult TargetMemory::WriteRam(uint32_t address, std::span<const uint8_t> data, uint32_t& where) {
    uint64_t start = address;
    uint64_t end = start + data.size();
    if (!InRam(start, end)) {
        where = FirstOutside(start, end, ramBase_, uint64_t{ramBase_} + ram_.size());
        return WriteResult::OutOfRange;
    }
    std::copy(data.begin(), data.end(), ram_.begin() + (address - ramBase_));
    return WriteResult::Ok;
}

WriteResult TargetMemory::Write(uint32_t address, std::span<const uint8_t> data, uint32_t& where) {
    if (InRam(address, uint64_t{address} + data.size())) return WriteRam(address, data, where);
    return WriteFlash(address, data, where);
}

bool TargetMemory::Read(uint32_t address, std::span<uint8_t> out, uint32_t& where) const {
    uint64_t start = address;
    uint64_t end = start + out.size();
    if (InRam(start, end)) {
        std::copy_n(ram_.begin() + (address - ramBase_), out.size(), out.begin());
    } else if (InFlash(start, end)) {
        std::copy_n(cells_.begin() + (address - base_), out.size(), out.begin());
    } else {
        bool nearRam = !ram_.empty() && start >= ramBase_ && start < uint64_t{ramBase_} + ram_.size();
        where = nearRam ? FirstOutside(start, end, ramBase_, uint64_t{ramBase_} + ram_.size())
                        : FirstOutside(start, end, base_, uint64_t{base_} + cells_.size());
        return false;
    }
    return true;
}

WriteResult TargetMemory::CopyRamToFlash(uint32_t flashAddress, uint32_t ramAddress, uint32_t count, uint32_t& where) {
    if (!InRam(ramAddress, uint64_t{ramAddress} + count)) {
        where = FirstOutside(ramAddress, uint64_t{ramAddress} + count, ramBase_, uint64_t{ramBase_} + ram_.size());
        return WriteResult::OutOfRange;
    }
    std::vector<uint8_t> data(ram_.begin() + (ramAddress - ramBase_), ram_.begin() + (ramAddress - ramBase_) + count);
    return WriteFlash(flashAddress, data, where);
}

void TargetMemory::MarkWritten(uint64_t start, uint64_t end) {
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

void TargetMemory::ForgetWritten(uint64_t start, uint64_t end) {
    // Cut [start, end) out of every range that overlaps it; the pieces outside stay.
    auto it = written_.upper_bound(start);
    if (it != written_.begin() && std::prev(it)->second > start) --it;
    while (it != written_.end() && it->first < end) {
        uint64_t from = it->first, to = it->second;
        it = written_.erase(it);
        if (from < start) written_[from] = start;
        if (to > end) written_[end] = to;
    }
}
