#include "protocols/iap_commands.hpp"

#include <string>

#include "protocols/crc16.hpp"
#include "protocols/option_rows.hpp"
#include "text.hpp"

namespace {

constexpr uint8_t kAck = 0x06;
constexpr uint32_t kMaxWriteLength = 4096;  // the target's receive buffer

// Addresses and rates travel least significant byte first.
uint32_t Le32(const uint8_t* bytes) {
    return bytes[0] | (uint32_t{bytes[1]} << 8) | (uint32_t{bytes[2]} << 16) | (uint32_t{bytes[3]} << 24);
}

const ProtocolOption kCommandRows[] = {
    {"--block-size", "N", "block size announced in the info reply (default 256,\n0 allowed)",
     [](ProtocolSettings& s, const std::string& v, std::string& what) {
         what = "0 to 65535";
         return ParseU32(v, SettingsOf<IapSettings>(s).blockSize, 0xFFFF);
     }},
    HexBytesRow<&IapSettings::infoPrefix, 2>("--info-prefix", "the two free bytes of the info reply (default 0000)"),
    {"--nak", "HEX", "byte sent for a refused command (bad CRC, unerased or\nout-of-range write, a nak fault); default: no answer",
     [](ProtocolSettings& s, const std::string& v, std::string& what) {
         what = "one hexadecimal byte";
         std::vector<uint8_t> bytes;
         if (!ParseHexBytes(v, bytes) || bytes.size() != 1) return false;
         SettingsOf<IapSettings>(s).nak = bytes[0];
         return true;
     }},
    HexBytesRow<&IapSettings::syncAnswer>("--sync-answer", "answer 'C' with these bytes instead of 06"),
};

const ProtocolOption kBaudRows[] = {
    {"--max-baud", "RATE", "highest rate 'R' switches to",
     [](ProtocolSettings& s, const std::string& v, std::string& what) {
         what = "a baud rate";
         uint32_t& rate = SettingsOf<IapSettings>(s).maxBaud;
         return ParseU32(v, rate) && rate >= 50;
     }},
    {"--baud-answer-bytes", "N", "send only N bytes of the 'R' answer (the target then\nkeeps its rate)",
     [](ProtocolSettings& s, const std::string& v, std::string& what) {
         what = "0 to 16";
         return ParseU32(v, SettingsOf<IapSettings>(s).baudAnswerBytes, 16);
     }},
};

}  // namespace

std::vector<ProtocolOption> IapOptionRows(bool baudCommand) {
    std::vector<ProtocolOption> rows(std::begin(kCommandRows), std::end(kCommandRows));
    if (baudCommand) rows.insert(rows.end(), std::begin(kBaudRows), std::end(kBaudRows));
    return rows;
}

void IapCommandEngine::Reset() {
    state_ = State::Idle;
    frame_.clear();
    expected_ = 0;
}

void IapCommandEngine::Refuse(const char* key, Target& target) {
    if (settings_.nak)
        target.Reply(Key(key), std::span<const uint8_t>(&*settings_.nak, 1));
    else
        target.Reply(Key(key), {});
}

bool IapCommandEngine::RefusedByPlan(const char* key, const std::string& what, Target& target) {
    if (!target.Refuses(Key(key))) return false;
    target.Note(Format("%s: %s: refused (nak fault)", tag_, what.c_str()));
    Refuse(key, target);
    return true;
}

IapEvent IapCommandEngine::Receive(uint8_t byte, Target& target) {
    SimTime now = target.Now();
    if (state_ != State::Idle &&
        now - lastByte_ > std::chrono::milliseconds(target.Options().frameTimeoutMs)) {
        // The host gave up in the middle of a frame: a real target's receive timer
        // throws the partial frame away, so the next command is seen as a command.
        target.Note(Format("%s: frame dropped after a pause (%zu bytes received)", tag_, frame_.size()));
        Reset();
    }
    lastByte_ = now;

    switch (state_) {
    case State::Idle:
        return Command(byte, target);
    case State::WriteHeader:
        frame_.push_back(byte);
        if (--expected_ == 0) {
            uint32_t length = frame_[4] | (uint32_t{frame_[5]} << 8);
            state_ = length ? State::WriteData : State::WriteCrc;
            expected_ = length ? length : 2;
        }
        break;
    case State::WriteData:
        frame_.push_back(byte);
        if (--expected_ == 0) {
            state_ = State::WriteCrc;
            expected_ = 2;
        }
        break;
    case State::WriteCrc:
        frame_.push_back(byte);
        if (--expected_ == 0) FinishWrite(target);
        break;
    case State::BaudValue:
        frame_.push_back(byte);
        if (--expected_ == 0) FinishBaud(target);
        break;
    }
    return IapEvent::None;
}

IapEvent IapCommandEngine::Command(uint8_t byte, Target& target) {
    switch (byte) {
    case 'C':
        if (RefusedByPlan("C", "synchronise", target)) break;
        if (settings_.syncAnswer.empty())
            target.Reply(Key("C"), std::span<const uint8_t>(&kAck, 1));
        else
            target.Reply(Key("C"), settings_.syncAnswer);
        break;
    case 'I': {
        if (RefusedByPlan("I", "info", target)) break;
        uint8_t info[5] = {kAck, settings_.infoPrefix[0], settings_.infoPrefix[1],
                           static_cast<uint8_t>(settings_.blockSize), static_cast<uint8_t>(settings_.blockSize >> 8)};
        target.Reply(Key("I"), info);
        break;
    }
    case 'E': {
        if (RefusedByPlan("E", "erase", target)) break;
        if (settings_.eraseLastSector) {
            if (!target.Memory().EraseRange(0, *settings_.eraseLastSector)) {
                target.Note(Format("%s: erase of sectors 0 to %zu: no such sectors, refused", tag_,
                                   *settings_.eraseLastSector));
                Refuse("E", target);
                break;
            }
            target.Note(Format("%s: erase of sectors 0 to %zu", tag_, *settings_.eraseLastSector));
        } else {
            target.Memory().EraseAll();
            target.Note(Format("%s: erase", tag_));
        }
        uint32_t ms = settings_.eraseMs.value_or(target.Options().eraseTimeMs);
        target.Reply(Key("E"), std::span<const uint8_t>(&kAck, 1), std::chrono::milliseconds(ms));
        break;
    }
    case 'X':
        if (RefusedByPlan("X", "start code", target)) break;
        target.Note(Format("%s: start code", tag_));
        target.Reply(Key("X"), std::span<const uint8_t>(&kAck, 1));
        if (target.Options().exitAfterExec) target.Exit();
        return IapEvent::Executed;
    case 'W':
        Reset();
        state_ = State::WriteHeader;
        expected_ = 6;
        break;
    case 'R':
        if (baudCommand_) {
            Reset();
            state_ = State::BaudValue;
            expected_ = 4;
            break;
        }
        [[fallthrough]];
    default:
        target.Note(Format("%s: ignored byte %02X outside a command", tag_, byte));
        break;
    }
    return IapEvent::None;
}

void IapCommandEngine::FinishWrite(Target& target) {
    std::vector<uint8_t> frame;
    frame.swap(frame_);
    Reset();
    uint32_t address = Le32(frame.data());
    uint32_t length = frame[4] | (uint32_t{frame[5]} << 8);
    std::span<const uint8_t> covered(frame.data(), 6 + length);
    uint16_t received = static_cast<uint16_t>(frame[6 + length] | (frame[7 + length] << 8));
    uint16_t computed = Crc16CcittFalse(covered);
    std::span<const uint8_t> data(frame.data() + 6, length);
    std::string write = Format("write %08X, %u bytes", address, length);

    if (received != computed) {
        target.Note(Format("%s: %s: CRC %04X, expected %04X, refused", tag_, write.c_str(), received, computed));
        Refuse("W", target);
        return;
    }
    if (length > kMaxWriteLength) {
        target.Note(Format("%s: %s: longer than %u, refused", tag_, write.c_str(), kMaxWriteLength));
        Refuse("W", target);
        return;
    }
    if (RefusedByPlan("W", write, target)) return;
    uint32_t where = 0;
    switch (target.Memory().WriteFlash(address, data, where)) {
    case WriteResult::Ok:
        target.Note(Format("%s: %s", tag_, write.c_str()));
        target.Reply(Key("W"), std::span<const uint8_t>(&kAck, 1),
                     std::chrono::milliseconds((length * settings_.programMsPer256 + 255) / 256));
        break;
    case WriteResult::OutOfRange:
        target.Note(Format("%s: %s: %08X is outside the flash, refused", tag_, write.c_str(), where));
        Refuse("W", target);
        break;
    case WriteResult::NotErased:
        target.Note(Format("%s: %s: %08X is not erased, refused", tag_, write.c_str(), where));
        Refuse("W", target);
        break;
    }
}

void IapCommandEngine::FinishBaud(Target& target) {
    uint32_t requested = Le32(frame_.data());
    Reset();
    if (RefusedByPlan("R", Format("rate %u", requested), target)) return;
    uint32_t current = target.LineRate() ? target.LineRate() : target.HostRate();
    uint32_t rate = requested ? requested : current;
    if (settings_.maxBaud && rate > settings_.maxBaud) rate = settings_.maxBaud;
    // The rate, least significant byte first, cut or padded with zeros to the number of
    // answer bytes the options ask for.
    std::vector<uint8_t> answer = {static_cast<uint8_t>(rate), static_cast<uint8_t>(rate >> 8),
                                   static_cast<uint8_t>(rate >> 16), static_cast<uint8_t>(rate >> 24)};
    answer.resize(settings_.baudAnswerBytes, 0x00);
    target.Note(Format("%s: rate %u requested, switching to %u", tag_, requested, rate));
    target.Reply(Key("R"), answer);
    // With a short answer the host gives up; the target stays where it was.
    if (answer.size() >= 4) target.SwitchLineRate(rate);
}
