// The resident programming command set shared by GEN_IAP and MIC_EXTMEM: one-letter
// commands answered by 0x06, the info reply with the block size, and the 'W' frame
// (LE32 address, LE16 length, data, CRC-16/CCITT-FALSE low byte first).
#pragma once

#include <cstdint>
#include <vector>

#include "protocol.hpp"

enum class IapEvent { None, Executed };

class IapCommandEngine {
public:
    // `baudCommand`: the target knows 'R' (rate negotiation). `tag` prefixes the notes.
    IapCommandEngine(const char* tag, bool baudCommand) : tag_(tag), baudCommand_(baudCommand) {}

    IapEvent Receive(uint8_t byte, Target& target);
    bool Idle() const { return state_ == State::Idle; }
    void Reset();

private:
    enum class State { Idle, WriteHeader, WriteData, WriteCrc, BaudValue };

    IapEvent Command(uint8_t byte, Target& target);
    void FinishWrite(Target& target);
    void FinishBaud(Target& target);

    const char* tag_;
    bool baudCommand_;
    State state_ = State::Idle;
    SimTime lastByte_{};
    std::vector<uint8_t> frame_;  // address, length, data, CRC as received
    uint32_t expected_ = 0;       // bytes still to come in the current state
};
