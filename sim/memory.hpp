// The target's memory: flash made of sectors, erased cells reading 0xFF and programming
// only clearing bits (NOR flash), and an optional RAM region beside it, where writes
// replace bytes and nothing is ever erased.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

enum class WriteResult { Ok, OutOfRange, NotErased };

struct Sector {
    uint32_t start;
    uint32_t size;
};

// Sectors of 4 KiB from the flash base, the last one shorter when the size is no multiple.
std::vector<uint32_t> UniformSectors(uint32_t flashSize);

class TargetMemory {
public:
    // The flash starts at `flashBase` and is `sectorSizes` long, sector after sector; a
    // `ramSize` of 0 means no RAM. `overwrite` makes flash writes replace cells like RAM.
    TargetMemory(uint32_t flashBase, const std::vector<uint32_t>& sectorSizes, uint32_t ramBase, uint32_t ramSize,
                 bool overwrite);

    // Flash.
    uint32_t Base() const { return base_; }
    uint32_t Size() const { return static_cast<uint32_t>(cells_.size()); }
    const std::vector<Sector>& Sectors() const { return sectors_; }
    // The index of the sector holding `address`; none outside the flash.
    std::optional<size_t> SectorAt(uint32_t address) const;
    void EraseSector(size_t index);
    // Sectors first..last, both included; false (and nothing erased) when the range is
    // empty or runs past the last sector.
    bool EraseRange(size_t first, size_t last);
    void EraseAll();
    // Programs `data` at `address`. Without overwrite, a cell may only lose 1 bits:
    // programming the same data twice is fine, anything needing an erase is refused and
    // leaves the memory unchanged. `where` receives the first offending address on failure.
    WriteResult WriteFlash(uint32_t address, std::span<const uint8_t> data, uint32_t& where);
    uint8_t At(uint32_t address) const { return cells_[address - base_]; }
    // Flash ranges written since their sectors' last erase, merged: start -> end
    // (exclusive), 64-bit ends so that a range may reach the top of the address space.
    const std::map<uint64_t, uint64_t>& WrittenRanges() const { return written_; }

    // RAM.
    uint32_t RamBase() const { return ramBase_; }
    uint32_t RamSize() const { return static_cast<uint32_t>(ram_.size()); }
    WriteResult WriteRam(uint32_t address, std::span<const uint8_t> data, uint32_t& where);

    // Either region: the one that holds the whole range.
    WriteResult Write(uint32_t address, std::span<const uint8_t> data, uint32_t& where);
    // Reads flash or RAM; false (with `where`) when the range is not inside one region.
    bool Read(uint32_t address, std::span<uint8_t> out, uint32_t& where) const;
    // Programs `count` bytes of RAM at `ramAddress` into the flash at `flashAddress`.
    WriteResult CopyRamToFlash(uint32_t flashAddress, uint32_t ramAddress, uint32_t count, uint32_t& where);

private:
    bool InFlash(uint64_t start, uint64_t end) const { return start >= base_ && end <= uint64_t{base_} + cells_.size(); }
    bool InRam(uint64_t start, uint64_t end) const {
        return !ram_.empty() && start >= ramBase_ && end <= uint64_t{ramBase_} + ram_.size();
    }
    void MarkWritten(uint64_t start, uint64_t end);
    void ForgetWritten(uint64_t start, uint64_t end);

    uint32_t base_;
    std::vector<uint8_t> cells_;
    std::vector<Sector> sectors_;
    bool overwrite_;
    std::map<uint64_t, uint64_t> written_;
    uint32_t ramBase_;
    std::vector<uint8_t> ram_;
};
