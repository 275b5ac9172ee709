// The channel framing of MIC_EXTMEM targets' application protocol, as far as the
// entry into external-memory programming mode needs it.
#pragma once

#include <cstdint>
#include <vector>

constexpr uint8_t kMicInvertNext = 0xA1;     // receiver: the next byte is complemented
constexpr uint8_t kMicChannelMarker = 0xA2;  // channel switch; sender: escape prefix
constexpr uint8_t kMicEntryChannel = 0x05;
constexpr uint8_t kMicEntryAck = 0x0B;

// Sender side: a channel switch goes out before the first byte of a new channel;
// bytes 0xA0..0xA3 go out as 0xA2 and their complement.
struct MicFrameSender {
    uint8_t channel = 0;
    uint8_t lastChannelSent = 0;
    bool channelPending = false;
    void Send(uint8_t byte, std::vector<uint8_t>& wire);

private:
    void Escape(uint8_t byte, std::vector<uint8_t>& wire);
};

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
