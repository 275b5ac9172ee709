// The flash of an NXP LPC part as its boot ROM handles it in ISP mode: sectors that must
// be prepared before each erase or copy, code read protection (CRP) and what it forbids,
// NOR programming (with a weak bit if the options ask for one) for the ISP commands and
// the IAP alike, and the boot ROM's own vectors, which ISP mode maps over the start of
// the flash. Its commands (prepare, copy, erase, blank check, compare) return what the
// boot ROM answers; the command layer sends it.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "protocol.hpp"
#include "protocols/lpc_emu.hpp"
#include "protocols/lpc_parts.hpp"
#include "protocols/option_rows.hpp"

// A command's answer: its return code, the lines behind the code, and the target's
// work before the answer.
struct LpcAnswer {
    LpcAnswer(int code, std::string more = "", std::chrono::milliseconds delay = {})
        : code(code), more(std::move(more)), delay(delay) {}

    int code;
    std::string more;
    std::chrono::milliseconds delay;
};

class LpcFlashModel : public LpcFlash {
public:
    LpcFlashModel(const LpcPart& part, uint32_t crp, const StuckBit& stuckBit)
        : part_(part), crp_(crp), stuckBit_(stuckBit), prepared_(part.sectors, false) {}

    uint32_t Crp() const { return crp_; }
    static bool InFlash(const TargetMemory& m, uint64_t a, uint64_t n) { return n && a + n <= m.Size(); }
    static bool InRam(const TargetMemory& m, uint64_t a, uint64_t n) {
        return n && a >= m.RamBase() && a + n <= uint64_t{m.RamBase()} + m.RamSize();
    }
    // Flash or RAM as the boot ROM sees it; false when the range is not in one region.
    bool ReadView(Target& t, uint32_t address, std::vector<uint8_t>& out) const;
    // A word of the flash itself (FFFFFFFF outside it).
    static uint32_t Word(Target& t, uint32_t address);
    // The sum of the eight exception vectors: 0 marks valid user code.
    static uint32_t VectorSum(Target& t);

    LpcAnswer Prepare(uint32_t first, uint32_t last, Target& t);
    LpcAnswer Copy(uint32_t flash, uint32_t ram, uint32_t count, Target& t);
    LpcAnswer Erase(uint32_t first, uint32_t last, Target& t);
    LpcAnswer BlankCheck(uint32_t first, uint32_t last, Target& t);
    LpcAnswer Compare(uint32_t a1, uint32_t a2, uint32_t count, Target& t);
    // Every sector unprepared again, as after a copy, an erase or a reset.
    void LockSectors();
    // A reset: the boot ROM reads the protection level from its word in the flash.
    void ReadCrp(Target& t);

    void ProgramFlash(uint32_t address, std::span<const uint8_t> data, Target& t) override;
    void EraseFlash(uint32_t first, uint32_t last, Target& t) override;

private:
    bool ValidSectors(uint32_t first, uint32_t last) const { return first <= last && last < prepared_.size(); }
    uint8_t BootRomByte(uint32_t offset) const;

    const LpcPart& part_;
    uint32_t crp_;
    StuckBit stuckBit_;
    std::vector<bool> prepared_;
    bool crpErased_ = false;  // sector 0 was erased: the protection word is gone
};
