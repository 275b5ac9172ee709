// MEC_IAP target: an application on an NXP LPC part, at 2400 baud, that on request
// drops into the part's boot ROM (the IAP call that reinvokes ISP), which then speaks
// the LPC ISP protocol exactly as the lpc_isp target does.
//
// The application speaks the byte-stuffed, channelled link (link_framing.hpp): data on
// channel 0 forms a message, the data byte 0A on channel 5 ends it, and the message
// 84 04 0C 38 E0 1F 10 10 16 17 01 asks for the boot ROM. The application answers
// A2 05 0B on the link, and the boot ROM starts: autobaud, its rate locked by the
// host's '?'.
//
// Reply keys: "entry" for the application's answer, then those of lpc_isp.
#include <string>
#include <vector>

#include "protocols/link_framing.hpp"
#include "protocols/lpc_isp.hpp"
#include "protocols/option_rows.hpp"

namespace {

constexpr uint8_t kEndOfMessage = 0x0A;
constexpr uint32_t kApplicationRate = 2400;

// The boot ROM's options are lpc_isp's own rows, parsed into the lpc_isp part of these
// settings; the inner boot ROM target is made from that part.
struct MecIapSettings : LpcIspSettings {
    std::vector<uint8_t> entryAnswer{0xA2, 0x05, 0x0B};  // as on the wire
    bool inBootRom = false;

    bool Check(std::string& error) const override {
        if (commandMode && !inBootRom) {
            error = "--command-mode needs --in-boot-rom: the boot ROM the application drops into autobauds";
            return false;
        }
        return LpcIspSettings::Check(error);
    }
    uint32_t StartRate() const override { return inBootRom ? 0 : kApplicationRate; }

    // The boot ROM as the application's call leaves it.
    LpcIspSettings BootRom() const {
        LpcIspSettings rom = *this;
        rom.reinvoked = true;
        rom.autobaudRate = 0;
        return rom;
    }
};

class MecIapTarget : public Protocol {
public:
    explicit MecIapTarget(const MecIapSettings& s) : settings_(s) {
        if (s.inBootRom) rom_ = MakeLpcIspTarget(s.BootRom());
    }

    void Receive(uint8_t byte, Target& t) override {
        if (rom_) {
            rom_->Receive(byte, t);
            return;
        }
        std::vector<uint8_t> message;
        if (!link_.Feed(byte, message) || !IsEntryMessage(message)) return;
        // Refused, the application stays as it is and does not answer.
        if (RefusedSilently(t, "entry", "mec_iap: entry request")) return;
        t.Note("mec_iap: entry request: the application reinvokes the boot ROM's ISP");
        t.Reply("entry", settings_.entryAnswer);
        t.SwitchLineRate(0);  // the boot ROM autobauds
        rom_ = MakeLpcIspTarget(settings_.BootRom());
    }

    // The boot ROM may run code started in RAM (fast mode's routine) between the bytes.
    void EndOfInput(Target& t) override {
        if (rom_) rom_->EndOfInput(t);
    }
    SimTime Work(Target& t) override { return rom_ ? rom_->Work(t) : SimTime::max(); }

private:
    MecIapSettings settings_;
    LinkReceiver link_{false, kEndOfMessage};
    std::unique_ptr<Protocol> rom_;
};

std::vector<ProtocolOption> Options() {
    std::span<const ProtocolOption> rom = LpcIspOptionRows();
    std::vector<ProtocolOption> rows(rom.begin(), rom.end());
    rows.push_back(HexBytesRow<&MecIapSettings::entryAnswer>(
        "--entry-answer", "the application's entry answer as on the wire (default\nA2050B)"));
    rows.push_back(FlagRow<&MecIapSettings::inBootRom>("--in-boot-rom",
                                                       "start in the boot ROM (autobaud), not in the application"));
    return rows;
}

}  // namespace

const ProtocolEntry& MecIapProtocol() {
    static const std::vector<ProtocolOption> options = Options();
    static const std::string keys = std::string("entry ") + LpcIspProtocol().faultKeys;
    static const ProtocolEntry entry = ProtocolEntryFor<MecIapSettings, MecIapTarget>(
        "mec_iap",
        "an application at 2400 baud that drops into the NXP LPC boot\n"
        "ROM on its framed entry request; the boot ROM is lpc_isp's, with\n"
        "its options",
        keys.c_str(), nullptr, options);
    return entry;
}
