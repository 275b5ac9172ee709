#include "protocols/link_framing.hpp"

#include <algorithm>
#include <array>

namespace {

constexpr uint8_t kInvertNext = 0xA1;
constexpr uint8_t kChannelMarker = 0xA2;
constexpr size_t kMessageLimit = 256;
constexpr std::array<uint8_t, 11> kEntryMessage = {0x84, 0x04, 0x0C, 0x38, 0xE0, 0x1F, 0x10, 0x10, 0x16, 0x17, 0x01};

}  // namespace

bool IsEntryMessage(const std::vector<uint8_t>& message) {
    return message.size() >= kEntryMessage.size() &&
           std::equal(kEntryMessage.begin(), kEntryMessage.end(), message.end() - kEntryMessage.size());
}

bool LinkDecoder::Feed(uint8_t byte, Item& item) {
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
        if (markerEscapes_ && byte >= 0x5C && byte <= 0x5F) {
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

bool LinkReceiver::Feed(uint8_t byte, std::vector<uint8_t>& message) {
    LinkDecoder::Item item;
    if (!decoder_.Feed(byte, item)) return false;
    if (item.channel) {
        channel_ = item.value;
        return false;
    }
    if (channel_ == kMessageChannel) {
        message_.push_back(item.value);
        if (message_.size() > kMessageLimit) message_.erase(message_.begin());
        return false;
    }
    if (channel_ != kControlChannel) return false;
    // Any control byte ends the message; only the end byte hands it over.
    bool ended = item.value == endByte_;
    if (ended) message = message_;
    message_.clear();
    return ended;
}

void LinkReceiver::Reset() {
    decoder_.Reset();
    channel_ = kMessageChannel;
    message_.clear();
}
