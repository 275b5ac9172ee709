// The channel framing of MIC_EXTMEM targets' application protocol, as far as the
// entry into external-memory programming mode needs it.
#pragma once

#include <cstdint>
#include <vector>

#include "drivers/kit/channel_framing.hpp"

constexpr uint8_t kMicInvertNext = kFrameInvertNext;  // receiver: the next byte is complemented
constexpr uint8_t kMicChannelMarker = kFrameChannel;  // channel switch; sender: escape prefix
constexpr uint8_t kMicEntryChannel = 0x05;
constexpr uint8_t kMicEntryAck = 0x0B;

// Receiver side of the entry answer: a channel marker, the data byte 5, then 0x0B.
struct MicEntryMatcher {
    bool invertNext = false;
    bool markerSeen = false;
    int matchState = 0;
    // True when this byte completes the entry answer.
    bool Feed(uint8_t byte);
};

// The entry request exactly as it goes on the wire.
std::vector<uint8_t> MicEntryRequest();
