// MIC_EXTMEM target: an application with a byte-stuffed, channelled serial link that
// switches into external-memory programming on request and then speaks the resident
// programming commands, plus 'R' for a rate change.
//
// The application's link framing (link_framing.hpp) also takes A2 5C..A2 5F as the
// escaped data bytes A3..A0. Channel 0 carries messages; the data byte 13 on channel 5
// ends one. The message 84 04 0C 38 E0 1F 10 10 16 17 01 asks for external-memory
// programming.
#include <vector>

#include "protocol.hpp"
#include "protocols/iap_commands.hpp"
#include "protocols/link_framing.hpp"
#include "protocols/option_rows.hpp"

namespace {

constexpr uint8_t kEndOfMessage = 0x13;

struct MicExtmemSettings : IapSettings {
    std::vector<uint8_t> entryAnswer{0xA2, 0x05, 0x0B};  // as on the wire
};

class MicExtmemTarget : public Protocol {
public:
    explicit MicExtmemTarget(const MicExtmemSettings& settings)
        : engine_("mic_extmem", settings, true), entryAnswer_(settings.entryAnswer) {}

    void Receive(uint8_t byte, Target& target) override {
        if (programming_) {
            bool idle = engine_.Idle();
            if (engine_.Receive(byte, target) == IapEvent::Executed) {
                // The started code is the application again, at its own rate.
                programming_ = false;
                link_.Reset();
                target.SwitchLineRate(target.Options().baud);
                return;
            }
            // None of the entry request's bytes is a command letter, so a host that
            // connects again finds the target still listening for it between commands.
            if (!idle) return;
        }
        std::vector<uint8_t> message;
        if (link_.Feed(byte, message) && IsEntryMessage(message)) Enter(target);
    }

private:
    void Enter(Target& target) {
        // Refused, the application stays as it is and does not answer.
        if (RefusedSilently(target, "entry", "mic_extmem: entry request")) return;
        target.Note("mic_extmem: entry request, external memory programming mode");
        target.Reply("entry", entryAnswer_);
        programming_ = true;
        engine_.Reset();
    }

    IapCommandEngine engine_;
    std::vector<uint8_t> entryAnswer_;
    LinkReceiver link_{true, kEndOfMessage};
    bool programming_ = false;
};

std::vector<ProtocolOption> Options() {
    std::vector<ProtocolOption> rows = IapOptionRows(true);
    rows.push_back(HexBytesRow<&MicExtmemSettings::entryAnswer>("--entry-answer",
                                                                "the entry answer as on the wire (default A2050B)"));
    return rows;
}

}  // namespace

const ProtocolEntry& MicExtmemProtocol() {
    static const std::vector<ProtocolOption> options = Options();
    static const ProtocolEntry entry = ProtocolEntryFor<MicExtmemSettings, MicExtmemTarget>(
        "mic_extmem",
        "external flash programming behind the application's byte-stuffed\n"
        "link: after the framed entry request the gen_iap commands, plus\n"
        "'R' rate change",
        "entry C I W E X R", nullptr, options);
    return entry;
}
