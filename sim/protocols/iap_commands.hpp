// The resident programming command set shared by GEN_IAP and MIC_EXTMEM: one-letter
// commands answered by 0x06, the info reply with the block size, and the 'W' frame
// (LE32 address, LE16 length, data, CRC-16/CCITT-FALSE low byte first). Each command's
// reply goes by its letter as fault key: "C", "I", "W", "E", "X" and "R".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol.hpp"

struct IapSettings : ProtocolSettings {
    uint32_t blockSize = 256;               // announced in the info reply
    std::vector<uint8_t> infoPrefix{0, 0};  // the two free bytes of the info reply
    std::optional<uint8_t> nak;             // answer to refused commands; none: silence
    std::vector<uint8_t> syncAnswer;        // replaces the acknowledge of 'C' when set
    uint32_t maxBaud = 0;                   // highest rate 'R' switches to; 0: any
    uint32_t baudAnswerBytes = 4;           // bytes of the 'R' answer actually sent
    // A routine loaded by another boot loader erases sectors 0 to this one only
    // (none: the whole flash), takes its own flash times and answers under keys with
    // a prefix ("iap." -> "iap.W"), so that they stay apart from the loader's.
    std::optional<size_t> eraseLastSector;
    std::optional<uint32_t> eraseMs;  // none: the generic --erase-time
    uint32_t programMsPer256 = 0;     // programming time of a write frame
    std::string keyPrefix;

    std::optional<uint8_t> RefusalByte() const override { return nak; }
};

// The option rows of the command set, for the protocols that speak it; `baudCommand`
// adds those of 'R'.
std::vector<ProtocolOption> IapOptionRows(bool baudCommand);

enum class IapEvent { None, Executed };

class IapCommandEngine {
public:
    // `baudCommand`: the target knows 'R' (rate negotiation). `tag` prefixes the notes.
    IapCommandEngine(const char* tag, const IapSettings& settings, bool baudCommand)
        : tag_(tag), settings_(settings), baudCommand_(baudCommand) {}

    IapEvent Receive(uint8_t byte, Target& target);
    bool Idle() const { return state_ == State::Idle; }
    void Reset();

private:
    enum class State { Idle, WriteHeader, WriteData, WriteCrc, BaudValue };

    IapEvent Command(uint8_t byte, Target& target);
    void FinishWrite(Target& target);
    void FinishBaud(Target& target);
    std::string Key(const char* key) const { return settings_.keyPrefix + key; }
    // The refusal: the NAK byte when one is configured, else an empty reply.
    void Refuse(const char* key, Target& target);
    // True (with a note and the refusal sent) when the fault plan refuses `key` now.
    bool RefusedByPlan(const char* key, const std::string& what, Target& target);

    const char* tag_;
    IapSettings settings_;
    bool baudCommand_;
    State state_ = State::Idle;
    SimTime lastByte_{};
    std::vector<uint8_t> frame_;  // address, length, data, CRC as received
    uint32_t expected_ = 0;       // bytes still to come in the current state
};
