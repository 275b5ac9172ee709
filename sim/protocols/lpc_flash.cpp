#include "protocols/lpc_flash.hpp"

#include <algorithm>

#include "text.hpp"

namespace {

constexpr uint32_t kCrpWords[] = {0, 0x12345678, 0x87654321, 0x43218765};  // CRP1..3 in flash

}  // namespace

// The boot ROM's own vectors, which it maps over the start of the flash in ISP mode.
uint8_t LpcFlashModel::BootRomByte(uint32_t offset) const {
    uint32_t word = offset / 4;
    uint32_t value;
    if (!part_.Cortex())
        value = word < 8 ? 0xE59FF018u : 0x7FFFE040u + 4 * (word - 8);  // LDR PC, [PC, #24] and its table
    else
        value = word == 0 ? 0x10000200u - 32 : 0x1FFF0101u + 8 * word;  // stack top, handlers
    return static_cast<uint8_t>(value >> (8 * (offset % 4)));
}

bool LpcFlashModel::ReadView(Target& t, uint32_t address, std::vector<uint8_t>& out) const {
    uint32_t where = 0;
    if (!t.Memory().Read(address, out, where)) return false;
    if (InFlash(t.Memory(), address, out.size()))
        for (size_t i = 0; i < out.size() && address + i < part_.BootVectorBytes(); ++i)
            out[i] = BootRomByte(static_cast<uint32_t>(address + i));
    return true;
}

uint32_t LpcFlashModel::Word(Target& t, uint32_t address) {
    uint8_t b[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    uint32_t where = 0;
    t.Memory().Read(address, b, where);
    return b[0] | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 24);
}

uint32_t LpcFlashModel::VectorSum(Target& t) {
    uint32_t sum = 0;
    for (uint32_t i = 0; i < 32; i += 4) sum += Word(t, i);
    return sum;
}

LpcAnswer LpcFlashModel::Prepare(uint32_t first, uint32_t last, Target& t) {
    if (!ValidSectors(first, last)) return kInvalidSector;
    std::fill(prepared_.begin() + first, prepared_.begin() + last + 1, true);
    t.Note(Format("lpc_isp: prepare sectors %u to %u", first, last));
    return kSuccess;
}

LpcAnswer LpcFlashModel::Copy(uint32_t flash, uint32_t ram, uint32_t count, Target& t) {
    if (crp_ >= 2) return kCrpEnabled;
    if (flash % 256) return kDstAddrError;
    if (ram % 4) return kSrcAddrError;
    if (!part_.CopyCountValid(count)) return kCountError;
    if (!InFlash(t.Memory(), flash, count)) return kDstAddrNotMapped;
    if (!InRam(t.Memory(), ram, count)) return kSrcAddrNotMapped;
    size_t first = *t.Memory().SectorAt(flash), last = *t.Memory().SectorAt(flash + count - 1);
    if (crp_ == 1 && first == 0) return kCrpEnabled;
    for (size_t s = first; s <= last; ++s)
        if (!prepared_[s]) return kSectorNotPrepared;
    std::vector<uint8_t> data(count);
    uint32_t where = 0;
    t.Memory().Read(ram, data, where);
    ProgramFlash(flash, data, t);
    LockSectors();  // every copy locks the sectors again
    t.Note(Format("lpc_isp: copy %u bytes from RAM %08X to flash %08X", count, ram, flash));
    // IAP programming as on the LPC parts: 1 ms per 256 bytes.
    return {kSuccess, "", std::chrono::milliseconds(t.Options().LineModelled() ? count / 256 : 0)};
}

LpcAnswer LpcFlashModel::Erase(uint32_t first, uint32_t last, Target& t) {
    if (!ValidSectors(first, last)) return kInvalidSector;
    bool all = first == 0 && last + 1 == prepared_.size();
    // CRP1 erases sector 0 only together with all others, CRP2 only everything.
    if ((crp_ == 1 && first == 0 && !all) || (crp_ >= 2 && !all)) return kCrpEnabled;
    for (uint32_t s = first; s <= last; ++s)
        if (!prepared_[s]) return kSectorNotPrepared;
    EraseFlash(first, last, t);
    LockSectors();
    t.Note(Format("lpc_isp: erase sectors %u to %u", first, last));
    return {kSuccess, "", std::chrono::milliseconds(t.Options().EraseMs(part_.EraseMs()))};
}

LpcAnswer LpcFlashModel::BlankCheck(uint32_t first, uint32_t last, Target& t) {
    if (!ValidSectors(first, last)) return kInvalidSector;
    const std::vector<Sector>& sectors = t.Memory().Sectors();
    uint32_t start = sectors[first].start;
    std::vector<uint8_t> cells(sectors[last].start + sectors[last].size - start);
    ReadView(t, start, cells);
    for (size_t i = 0; i < cells.size(); i += 4) {
        uint32_t word = cells[i] | (uint32_t{cells[i + 1]} << 8) | (uint32_t{cells[i + 2]} << 16) |
                        (uint32_t{cells[i + 3]} << 24);
        if (word == 0xFFFFFFFFu) continue;
        // With code read protection the position and contents are not told.
        uint32_t offset = crp_ ? 0 : static_cast<uint32_t>(i);
        t.Note(Format("lpc_isp: sectors %u to %u: not blank at %08X", first, last, start + static_cast<uint32_t>(i)));
        return {kSectorNotBlank, Format("%u\r\n%u\r\n", offset, crp_ ? 0 : word)};
    }
    return kSuccess;
}

LpcAnswer LpcFlashModel::Compare(uint32_t a1, uint32_t a2, uint32_t count, Target& t) {
    if (crp_) return kCrpEnabled;
    if (a1 % 4 || a2 % 4) return kAddrError;
    if (count % 4) return kCountError;
    // Checked before anything is read: the count comes from the host.
    for (uint32_t a : {a1, a2})
        if (count && !InFlash(t.Memory(), a, count) && !InRam(t.Memory(), a, count)) return kAddrNotMapped;
    std::vector<uint8_t> x(count), y(count);
    ReadView(t, a1, x);
    ReadView(t, a2, y);
    for (uint32_t i = 0; i < count; i += 4) {
        if (std::equal(x.begin() + i, x.begin() + i + 4, y.begin() + i)) continue;
        t.Note(Format("lpc_isp: compare %08X with %08X: differs at offset %u", a1, a2, i));
        return {kCompareError, Format("%u\r\n", i)};
    }
    return kSuccess;
}

void LpcFlashModel::LockSectors() { std::fill(prepared_.begin(), prepared_.end(), false); }

void LpcFlashModel::ReadCrp(Target& t) {
    uint32_t word = Word(t, part_.Cortex() ? 0x2FC : 0x1FC);
    if (crpErased_) crp_ = 0;
    for (uint32_t level = 1; level <= 3; ++level)
        if (word == kCrpWords[level]) crp_ = level;
    crpErased_ = false;
}

void LpcFlashModel::ProgramFlash(uint32_t address, std::span<const uint8_t> data, Target& t) {
    // NOR flash: programming only clears bits, whatever was there before.
    std::vector<uint8_t> cells(data.size());
    uint32_t where = 0;
    t.Memory().Read(address, cells, where);
    for (size_t i = 0; i < cells.size(); ++i)
        cells[i] = stuckBit_.Programmed(address + static_cast<uint32_t>(i), cells[i], cells[i] & data[i]);
    t.Memory().WriteFlash(address, cells, where);
}

void LpcFlashModel::EraseFlash(uint32_t first, uint32_t last, Target& t) {
    t.Memory().EraseRange(first, last);
    if (first == 0) crpErased_ = true;  // the protection word is gone from the next reset on
}
