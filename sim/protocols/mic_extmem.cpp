// MIC_EXTMEM target: an application with a byte-stuffed, channelled serial link that
// switches into external-memory programming on request and then speaks the resident
// programming commands, plus 'R' for a rate change.
//
// Link framing as the application decodes it:
//   A1 x         data byte ~x
//   A2 5C..5F    data byte ~x (the host's escape of A0..A3)
//   A2 A1 x      channel switch to ~x
//   A2 A2 x      channel switch to ~x (a channel number that itself needs escaping)
//   A2 c         channel switch to c
//   other        data byte on the current channel
// Channel 0 carries messages; the data byte 13 on channel 5 ends one. The message
// 84 04 0C 38 E0 1F 10 10 16 17 01 asks for external-memory programming.
#include <algorithm>
#include <array>
#include <vector>

#include "protocol.hpp"
#include "protocols/iap_commands.hpp"

namespace {

constexpr uint8_t kInvertNext = 0xA1;
constexpr uint8_t kChannelMarker = 0xA2;
constexpr uint8_t kMessageChannel = 0;
constexpr uint8_t kControlChannel = 5;
constexpr uint8_t kEndOfMessage = 0x13;
constexpr std::array<uint8_t, 11> kEntryMessage = {0x84, 0x04, 0x0C, 0x38, 0xE0, 0x1F, 0x10, 0x10, 0x16, 0x17, 0x01};
constexpr size_t kMessageLimit = 256;

class LinkDecoder {
public:
    struct Item {
        bool channel;  // true: channel switch to `value`; false: data byte `value`
        uint8_t value;
    };

    // Returns true when `byte` completed an item.
    bool Feed(uint8_t byte, Item& item) {
        switch (state_) {
        case State::Plain:
            if (byte == kInvertNext) {
                state_ = State::Inverted;
                return false;
            }
            if (byte == kChannelMarker) {
                state_ = State::Marker;
                return false;
            }
            item = {false, byte};
            return true;
        case State::Inverted:
            state_ = State::Plain;
            item = {false, static_cast<uint8_t>(~byte)};
            return true;
        case State::Marker:
            if (byte == kInvertNext || byte == kChannelMarker) {
                state_ = State::InvertedChannel;
                return false;
            }
            state_ = State::Plain;
            if (byte >= 0x5C && byte <= 0x5F) {
                item = {false, static_cast<uint8_t>(~byte)};
            } else {
                item = {true, byte};
            }
            return true;
        case State::InvertedChannel:
            state_ = State::Plain;
            item = {true, static_cast<uint8_t>(~byte)};
            return true;
        }
        return false;
    }

    void Reset() { state_ = State::Plain; }

private:
    enum class State { Plain, Inverted, Marker, InvertedChannel };
    State state_ = State::Plain;
};

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
                decoder_.Reset();
                message_.clear();
                target.SwitchLineRate(target.Options().baud);
                return;
            }
            // None of the entry request's bytes is a command letter, so a host that
            // connects again finds the target still listening for it between commands.
            if (!idle) return;
        }
        LinkDecoder::Item item;
        if (decoder_.Feed(byte, item)) Deliver(item, target);
    }

private:
    void Deliver(const LinkDecoder::Item& item, Target& target) {
        if (item.channel) {
            channel_ = item.value;
            return;
        }
        if (channel_ == kMessageChannel) {
            message_.push_back(item.value);
            if (message_.size() > kMessageLimit) message_.erase(message_.begin());
            return;
        }
        if (channel_ != kControlChannel) return;
        if (item.value == kEndOfMessage &&
            message_.size() >= kEntryMessage.size() &&
            std::equal(kEntryMessage.begin(), kEntryMessage.end(), message_.end() - kEntryMessage.size())) {
            Enter(target);
        }
        message_.clear();
    }

    void Enter(Target& target) {
        if (target.Refuses("entry")) {
            // The application stays as it is and does not answer.
            target.Note("mic_extmem: entry request: refused (nak fault)");
            target.Reply("entry", {});
            return;
        }
        target.Note("mic_extmem: entry request, external memory programming mode");
        target.Reply("entry", entryAnswer_);
        programming_ = true;
        engine_.Reset();
    }

    IapCommandEngine engine_;
    std::vector<uint8_t> entryAnswer_;
    LinkDecoder decoder_;
    std::vector<uint8_t> message_;
    uint8_t channel_ = kMessageChannel;
    bool programming_ = false;
};

std::vector<ProtocolOption> Options() {
    std::vector<ProtocolOption> rows = IapOptionRows(true);
    rows.push_back({"--entry-answer", "HEX", "the entry answer as on the wire (default A2050B)",
                    [](ProtocolSettings& s, const std::string& v, std::string& what) {
                        what = "hexadecimal bytes";
                        return ParseHexBytes(v, static_cast<MicExtmemSettings&>(s).entryAnswer);
                    }});
    return rows;
}

}  // namespace

const ProtocolEntry& MicExtmemProtocol() {
    static const std::vector<ProtocolOption> options = Options();
    static const ProtocolEntry entry = {
        "mic_extmem",
        "external flash programming behind the application's byte-stuffed\n"
        "link: after the framed entry request the gen_iap commands, plus\n"
        "'R' rate change",
        "entry C I W E X R",
        nullptr,
        options,
        [] { return std::unique_ptr<ProtocolSettings>(new MicExtmemSettings); },
        [](const ProtocolSettings& s) -> std::unique_ptr<Protocol> {
            return std::make_unique<MicExtmemTarget>(static_cast<const MicExtmemSettings&>(s));
        },
    };
    return entry;
}
