// The byte-stuffed, channelled serial link that the applications of the MIC_EXTMEM,
// LPC2000_IAP and MEC_IAP targets speak, as the application decodes it:
//   A1 x         data byte ~x (the hosts' escape of bytes the link reserves)
//   A2 c         channel switch to c
//   A2 A1 x      channel switch to ~x (a channel number that itself needs escaping)
//   A2 A2 x      channel switch to ~x (the same, with the marker as escape)
//   other        data byte on the current channel
// With `markerEscapes` (MIC_EXTMEM), A2 5C..A2 5F are the data bytes A3..A0: that host
// escapes A0..A3 as A2 and the complement. Without it they are channel switches.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Whether a message ends with 84 04 0C 38 E0 1F 10 10 16 17 01, the applications'
// request to enter their programming mode.
bool IsEntryMessage(const std::vector<uint8_t>& message);

class LinkDecoder {
public:
    struct Item {
        bool channel;  // true: channel switch to `value`; false: data byte `value`
        uint8_t value;
    };

    explicit LinkDecoder(bool markerEscapes) : markerEscapes_(markerEscapes) {}

    // Returns true when `byte` completed an item.
    bool Feed(uint8_t byte, Item& item);
    void Reset() { state_ = State::Plain; }

private:
    enum class State { Plain, Inverted, Marker, InvertedChannel };
    bool markerEscapes_;
    State state_ = State::Plain;
};

// Messages on the link: data on channel 0 collects into a message, a data byte on
// channel 5 ends it. Data on other channels is the application's other traffic.
class LinkReceiver {
public:
    static constexpr uint8_t kMessageChannel = 0;
    static constexpr uint8_t kControlChannel = 5;

    LinkReceiver(bool markerEscapes, uint8_t endByte) : decoder_(markerEscapes), endByte_(endByte) {}

    // True when `byte` ended a message with the end byte; `message` then holds the data
    // sent on channel 0 before it (the last 256 bytes at most).
    bool Feed(uint8_t byte, std::vector<uint8_t>& message);
    void Reset();

private:
    LinkDecoder decoder_;
    uint8_t endByte_;
    uint8_t channel_ = kMessageChannel;
    std::vector<uint8_t> message_;
};
