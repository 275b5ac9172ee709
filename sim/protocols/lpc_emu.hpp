// Runs the code that a host starts in the RAM of an NXP LPC part (a programming routine,
// a watchdog-reset routine) on an emulated CPU: an ARM7TDMI-S on the LPC21xx/22xx/23xx/
// 24xx, a Cortex-M3 on the LPC17xx. The code sees the part's RAM, its flash (read only),
// the peripherals of lpc_soc.hpp and the boot ROM's IAP entry, served from the flash
// model; UART0 is the simulator's line.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "protocol.hpp"
#include "protocols/lpc_parts.hpp"

// The boot ROM's flash programming, shared by the ISP commands and the IAP.
class LpcFlash {
public:
    virtual ~LpcFlash() = default;
    // Programs `data` at `address` (NOR flash: bits only clear).
    virtual void ProgramFlash(uint32_t address, std::span<const uint8_t> data, Target& t) = 0;
    virtual void EraseFlash(uint32_t first, uint32_t last, Target& t) = 0;
};

struct LpcEmuStart {
    uint32_t address = 0;
    bool thumb = false;
    uint32_t crystalKhz = 12000;  // the main oscillator
    uint32_t ispRate = 0;         // UART0's rate in ISP mode
    bool timed = false;           // the flash takes its data sheet times
    uint32_t eraseMs = 0;         // the erase time when timed
    uint32_t partId = 0;
    uint32_t bootVersion = 0;     // major << 8 | minor, as the IAP answers it
    std::array<uint32_t, 4> serial{};
};

enum class LpcEmuEnd {
    Running,
    Reset,        // watchdog or system reset request: the boot ROM starts again
    ReinvokeIsp,  // the IAP's reinvoke ISP command
    UserCode,     // the code jumped into the flash
    Stopped,      // a fault or a runaway, reported: the target stays silent
};

class LpcEmulator {
public:
    virtual ~LpcEmulator() = default;
    // A host byte reaches UART0.
    virtual void Receive(uint8_t byte, Target& t) = 0;
    // Runs a slice of code; returns when to run again (Protocol::Work).
    virtual SimTime Work(Target& t) = 0;
    virtual LpcEmuEnd End() const = 0;
    virtual uint32_t EndAddress() const = 0;  // where the code jumped into the flash
    // Hands the RAM as the code left it back to the target memory.
    virtual void Finish(Target& t) = 0;
};

// Starts the code; nullptr (with `why`) when this build has no emulation or the part's
// peripherals are not modelled.
std::unique_ptr<LpcEmulator> StartLpcEmulator(const LpcPart& part, const LpcEmuStart& start, LpcFlash& flash,
                                              Target& t, std::string& why);
