// The byte-stuffed channel framing that running applications speak on their serial
// line (MIC_EXTMEM, LPC2000_IAP and MEC_IAP targets): 0xA2 switches the channel, and
// bytes that would be taken for framing travel escaped, as a prefix and their bitwise
// complement. The three applications differ in which bytes they escape, with which
// prefix, and when a channel switch goes out.
#pragma once

#include <cstdint>
#include <vector>

constexpr uint8_t kFrameInvertNext = 0xA1;  // the next byte is complemented
constexpr uint8_t kFrameChannel = 0xA2;     // the next byte is a channel number

struct ChannelFramingRules {
    uint8_t escapeFirst;  // bytes escapeFirst..escapeLast travel escaped
    uint8_t escapeLast;
    uint8_t escapePrefix;
    bool switchOnPending;  // a raised pending flag forces the channel switch out
};

// The message on channel 0 that asks MIC and MEC applications to leave for their
// programming mode.
constexpr uint8_t kApplicationEntryMessage[] = {0x84, 0x04, 0x0C, 0x38, 0xE0, 0x1F, 0x10, 0x10, 0x16, 0x17, 0x01};

// MIC_EXTMEM: A0..A3 escaped with A2; LPC2000_IAP: 00..03 with A1; MEC_IAP: A0..A3 with A1.
extern const ChannelFramingRules kMicFraming;
extern const ChannelFramingRules kLpcIapFraming;
extern const ChannelFramingRules kMecFraming;

class ChannelFrameSender {
public:
    explicit ChannelFrameSender(const ChannelFramingRules& rules) : rules_(rules) {}
    uint8_t channel = 0;
    uint8_t lastChannelSent = 0;
    bool channelPending = false;
    // Appends the wire bytes of one data byte: a channel switch first when one is due.
    void Send(uint8_t byte, std::vector<uint8_t>& wire);

private:
    void Escape(uint8_t byte, std::vector<uint8_t>& wire) const;
    const ChannelFramingRules& rules_;
};

// A request on the application's link: the entry message on channel 0 first when
// `withMessage` (a channel switch goes out before it), then `entry` on channel 5, the
// application's programming channel.
std::vector<uint8_t> ApplicationEntryRequest(const ChannelFramingRules& rules, bool withMessage, uint8_t entry);

// The answer that says an application entered its programming mode: the first data
// byte on channel 5 after a channel marker is 0x0B.
class ChannelEntryReceiver {
public:
    // True once the answer is complete (and from then on).
    bool Feed(uint8_t byte);
    bool Entered() const { return entered_; }

private:
    bool invertNext_ = false;
    bool channelNext_ = false;
    bool firstAfterMarker_ = false;
    uint8_t channel_ = 0;
    bool entered_ = false;
};
