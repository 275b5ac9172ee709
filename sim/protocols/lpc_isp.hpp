// The NXP LPC boot ROM in ISP mode (lpc_isp): its settings and option rows, for the
// protocols whose targets end up in that boot ROM (mec_iap) and reuse it whole.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "protocol.hpp"
#include "protocols/lpc_parts.hpp"
#include "protocols/option_rows.hpp"

struct LpcIspSettings : ProtocolSettings {
    const LpcPart* part = FindLpcPart("LPC2148");
    bool commandMode = false;
    uint32_t crp = 0;
    uint32_t bootMajor = 0, bootMinor = 0;  // 0.0: the family's default
    StuckBit stuckBit;
    std::optional<uint32_t> reportId;
    bool emulate = true;  // code started in RAM runs on the emulated CPU
    // The boot ROM was entered from running code (the IAP call that reinvokes ISP), not
    // through the ISP entry pin at reset: it runs ISP even with code read protection 3.
    bool reinvoked = false;
    // The rate the boot ROM's UART goes back to when it autobauds again: none, --baud
    // (the target's fixed rate, 0 when it follows the host); 0, it always autobauds.
    std::optional<uint32_t> autobaudRate;

    bool Check(std::string& error) const override {
        if (crp == 3 && commandMode) {
            error = "--crp=3 disables ISP entry: no --command-mode with it";
            return false;
        }
        if (stuckBit.address && *stuckBit.address >= part->flashKiB * 1024) {
            error = "--stuck-bit: the address is outside the flash of the " + part->Name();
            return false;
        }
        return true;
    }

    bool SetMemory(SimOptions& o, bool memoryGiven, std::string& error) const override {
        if (memoryGiven) {
            error = "the flash and RAM come from --part: no --flash-base, --flash-size, --sectors or --ram";
            return false;
        }
        o.flashBase = 0;
        o.sectorSizes = part->SectorSizes();
        o.flashSize = part->flashKiB * 1024;
        o.ramBase = part->RamBase();
        o.ramSize = part->ramKiB * 1024;
        return true;
    }
};

// lpc_isp's option rows (--part, --crp, ...); they parse into any settings derived
// from LpcIspSettings.
std::span<const ProtocolOption> LpcIspOptionRows();
std::unique_ptr<Protocol> MakeLpcIspTarget(const LpcIspSettings& settings);
