// Code that the LPC boot ROM's go command starts, and what becomes of the boot ROM then.
// Code in RAM runs on the emulated CPU; without emulation (or where the part's
// peripherals are not modelled) a RAM routine with a parameter block is modelled from
// that block and the watchdog reset routine resets the part. Any other code runs
// without speaking ISP. A reset starts valid user code, or enters ISP again.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "protocol.hpp"
#include "protocols/lpc_emu.hpp"
#include "protocols/lpc_flash.hpp"
#include "protocols/lpc_parts.hpp"
#include "protocols/lpc_ram_routine.hpp"

class LpcStartedCode {
public:
    // What the boot ROM does next.
    enum class Next {
        Emulated,   // the emulated CPU runs the code: the host's bytes and Work go to it
        Routine,    // the modelled RAM routine answers the host's bytes
        Running,    // code runs that speaks no ISP: nothing answers
        Reset,      // a reset found no valid user code: ISP from the start
        Reinvoked,  // the code called the IAP's reinvoke ISP: ISP, open even with CRP3
    };

    LpcStartedCode(const LpcPart& part, LpcFlashModel& flash, bool emulate)
        : part_(part), flash_(flash), emulate_(emulate) {}

    // Starts the code at `address` once the go command is answered; `start` tells the
    // emulated CPU what the boot ROM leaves it (its address and state are set here).
    Next Go(uint32_t address, bool thumb, LpcEmuStart start, Target& t);
    // A host byte for the running routine or the emulated CPU's UART0.
    void Receive(uint8_t byte, Target& t);
    // Runs a slice of the emulated code (Protocol::Work); `next` is set once it ended.
    SimTime Work(Target& t, std::optional<Next>& next);

private:
    bool Emulate(const LpcEmuStart& start, Target& t);
    Next Started(uint32_t address, Target& t, bool jumped = false);
    Next Reset(Target& t);

    const LpcPart& part_;
    LpcFlashModel& flash_;
    bool emulate_;
    std::unique_ptr<LpcRamRoutine> routine_;
    std::unique_ptr<LpcEmulator> emulator_;
};
