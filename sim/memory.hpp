// The simulated flash: erased cells read 0xFF and programming can only clear bits.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <vector>

enum class WriteResult { Ok, OutOfRange, NotErased };

class FlashMemory {
public:
    FlashMemory(uint32_t base, uint32_t size, bool overwrite);

    void EraseAll();
    // Programs `data` at `address`. Without overwrite, a cell may only lose 1 bits (as
    // NOR flash does): programming the same data twice is fine, anything needing an erase
    // is refused and leaves the memory unchanged. `where` receives the first offending
    // address on failure.
    WriteResult Write(uint32_t address, std::span<const uint8_t> data, uint32_t& where);

    uint32_t Base() const { return base_; }
    uint32_t Size() const { return static_cast<uint32_t>(cells_.size()); }
    uint8_t At(uint32_t address) const { return cells_[address - base_]; }
    // Ranges written since the last erase, merged: start -> end (exclusive), 64-bit ends
    // so that a range may reach the top of the 32-bit address space.
    const std::map<uint64_t, uint64_t>& WrittenRanges() const { return written_; }

private:
    void MarkWritten(uint64_t start, uint64_t end);

    uint32_t base_;
    std::vector<uint8_t> cells_;
    bool overwrite_;
    std::map<uint64_t, uint64_t> written_;
};
