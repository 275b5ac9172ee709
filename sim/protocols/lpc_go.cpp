#include "protocols/lpc_go.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "text.hpp"

namespace {

// The routine a host starts in RAM to reset an ARM7 part through its watchdog.
constexpr uint32_t kWatchdogRoutine = 0x400002F0;
constexpr uint32_t kWatchdogRoutineBytes = 56;

}  // namespace

LpcStartedCode::Next LpcStartedCode::Go(uint32_t address, bool thumb, LpcEmuStart start, Target& t) {
    bool inRam = LpcFlashModel::InRam(t.Memory(), address, 4);
    start.address = address;
    start.thumb = thumb;
    if (inRam && emulate_ && Emulate(start, t)) return Next::Emulated;

    LpcRoutineBlock block;
    uint32_t load = part_.RamUserStart();
    if (inRam && LpcRoutineBlock::Read(t.Memory(), load, address | (thumb ? 1 : 0), block)) {
        routine_ = std::make_unique<LpcRamRoutine>(block, part_, t.Options().LineModelled());
        t.Note(Format("lpc_isp: go to %08X: RAM routine: %s", address, routine_->Describe().c_str()));
        if (!routine_->Baud()) {
            t.Note("lpc_isp: the routine's UART settings give no rate: it does not answer");
            return Next::Running;
        }
        t.SwitchLineRate(routine_->Baud());
        return Next::Routine;
    }
    std::vector<uint8_t> code(kWatchdogRoutineBytes);
    uint32_t where = 0;
    if (!part_.Cortex() && !thumb && address == kWatchdogRoutine && t.Memory().Read(address, code, where) &&
        std::any_of(code.begin(), code.end(), [](uint8_t b) { return b != 0; })) {
        t.Note("lpc_isp: go to 400002F0: watchdog reset routine: the part resets");
        return Reset(t);
    }
    return Started(address, t);
}

void LpcStartedCode::Receive(uint8_t byte, Target& t) {
    if (emulator_)
        emulator_->Receive(byte, t);
    else if (routine_)
        routine_->Receive(byte, t);
}

SimTime LpcStartedCode::Work(Target& t, std::optional<Next>& next) {
    if (!emulator_) return SimTime::max();
    SimTime when = emulator_->Work(t);
    LpcEmuEnd end = emulator_->End();
    if (end == LpcEmuEnd::Running) return when;
    emulator_->Finish(t);
    uint32_t address = emulator_->EndAddress();
    emulator_.reset();
    switch (end) {
    case LpcEmuEnd::Reset: next = Reset(t); break;
    case LpcEmuEnd::ReinvokeIsp: next = Next::Reinvoked; break;
    case LpcEmuEnd::UserCode: next = Started(address, t, true); break;
    default: next = Next::Running; break;
    }
    return SimTime::max();
}

// Runs the code in RAM on the emulated CPU; false (with a note) where it cannot.
bool LpcStartedCode::Emulate(const LpcEmuStart& start, Target& t) {
    std::string why;
    emulator_ = StartLpcEmulator(part_, start, flash_, t, why);
    if (!emulator_) {
        t.Note("lpc_isp: " + why + ": the code is not run");
        return false;
    }
    t.Note(Format("lpc_isp: go to %08X: the code runs on the emulated %s, crystal %u kHz", start.address,
                  part_.Cortex() ? "Cortex-M3" : (start.thumb ? "ARM7 in Thumb state" : "ARM7"), start.crystalKhz));
    return true;
}

// The code at `address` runs: it speaks no ISP.
// `jumped`: emulated code jumped there, which starts the user code wherever it lands.
LpcStartedCode::Next LpcStartedCode::Started(uint32_t address, Target& t, bool jumped) {
    std::string what = Format(jumped ? "lpc_isp: emu: the code jumps into the flash at %08X: " : "lpc_isp: go to %08X: ",
                              address);
    bool inFlash = LpcFlashModel::InFlash(t.Memory(), address, 4);
    if (inFlash && (address == 0 || jumped))
        t.Note(what + "user code start, vector checksum " + (LpcFlashModel::VectorSum(t) == 0 ? "valid" : "invalid"));
    else
        t.Note(what + (inFlash ? "code in flash runs" : "code in RAM runs"));
    if (t.Options().exitAfterExec) t.Exit();
    return Next::Running;
}

// A watchdog reset: the boot ROM starts again and, the reset being no external one,
// ignores the ISP entry pin and starts valid user code; without valid code it enters
// ISP again (autobaud).
LpcStartedCode::Next LpcStartedCode::Reset(Target& t) {
    flash_.ReadCrp(t);
    if (LpcFlashModel::InFlash(t.Memory(), 0, 32) && LpcFlashModel::VectorSum(t) == 0) return Started(0, t);
    t.Note("lpc_isp: no valid user code: ISP, autobaud");
    return Next::Reset;
}
