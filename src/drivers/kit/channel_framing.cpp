#include "drivers/kit/channel_framing.hpp"

const ChannelFramingRules kMicFraming = {0xA0, 0xA3, kFrameChannel, true};
const ChannelFramingRules kLpcIapFraming = {0x00, 0x03, kFrameInvertNext, false};
const ChannelFramingRules kMecFraming = {0xA0, 0xA3, kFrameInvertNext, true};

void ChannelFrameSender::Send(uint8_t byte, std::vector<uint8_t>& wire) {
    if ((rules_.switchOnPending && channelPending) || channel != lastChannelSent) {
        channelPending = false;
        lastChannelSent = channel;
        wire.push_back(kFrameChannel);
        Escape(channel, wire);
    }
    Escape(byte, wire);
}

void ChannelFrameSender::Escape(uint8_t byte, std::vector<uint8_t>& wire) const {
    if (byte >= rules_.escapeFirst && byte <= rules_.escapeLast) {
        wire.push_back(rules_.escapePrefix);
        wire.push_back(static_cast<uint8_t>(~byte));
    } else {
        wire.push_back(byte);
    }
}

std::vector<uint8_t> ApplicationEntryRequest(const ChannelFramingRules& rules, bool withMessage, uint8_t entry) {
    ChannelFrameSender sender(rules);
    std::vector<uint8_t> wire;
    if (withMessage) {
        sender.channelPending = true;
        for (uint8_t b : kApplicationEntryMessage) sender.Send(b, wire);
    }
    sender.channel = 5;
    sender.Send(entry, wire);
    return wire;
}

bool ChannelEntryReceiver::Feed(uint8_t byte) {
    if (byte == kFrameInvertNext) {
        invertNext_ = true;
        return entered_;
    }
    if (byte == kFrameChannel) {
        channelNext_ = true;
        return entered_;
    }
    if (invertNext_) {
        byte = static_cast<uint8_t>(~byte);
        invertNext_ = false;
    }
    if (channelNext_) {
        channelNext_ = false;
        channel_ = byte;
        firstAfterMarker_ = true;
        return entered_;
    }
    if (firstAfterMarker_ && channel_ == 5 && byte == 0x0B) entered_ = true;
    firstAfterMarker_ = false;
    return entered_;
}
