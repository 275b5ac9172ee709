#include "protocols/iap_commands.hpp"

#include <cstdio>
#include <string>

#include "protocols/crc16.hpp"

namespace {

constexpr uint8_t kAck = 0x06;
constexpr uint32_t kMaxWriteLength = 4096;  // the target's receive buffer

// Addresses and rates travel least significant byte first.
uint32_t Le32(const uint8_t* bytes) {
    return bytes[0] | (uint32_t{bytes[1]} << 8) | (uint32_t{bytes[2]} << 16) | (uint32_t{bytes[3]} << 24);
}

std::string Format(const char* fmt, auto... args) {
    char text[200];
    std::snprintf(text, sizeof text, fmt, args...);
    return text;
}

}  // namespace

void IapCommandEngine::Reset() {
    state_ = State::Idle;
    frame_.clear();
    expected_ = 0;
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
    const SimOptions& options = target.Options();
    switch (byte) {
    case 'C':
        if (options.syncAnswer.empty())
            target.Acknowledge('C');
        else
            target.Send(options.syncAnswer);
        break;
    case 'I': {
        target.Acknowledge('I');
        uint8_t info[4] = {options.infoPrefix[0], options.infoPrefix[1], static_cast<uint8_t>(options.blockSize),
                           static_cast<uint8_t>(options.blockSize >> 8)};
        target.Send(info);
        break;
    }
    case 'E':
        if (options.failErase) {
            target.Note(Format("%s: erase fails (--fail-erase)", tag_));
            target.Refuse('E');
        } else {
            target.Memory().EraseAll();
            target.Note(Format("%s: erase", tag_));
            target.Acknowledge('E', std::chrono::milliseconds(options.eraseTimeMs));
        }
        break;
    case 'X':
        target.Note(Format("%s: start code", tag_));
        target.Acknowledge('X');
        if (options.exitAfterExec) target.Exit();
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

    if (received != computed) {
        target.Note(Format("%s: write %08X, %u bytes: CRC %04X, expected %04X, refused", tag_, address, length,
                           received, computed));
        target.Refuse('W');
        return;
    }
    if (length > kMaxWriteLength) {
        target.Note(Format("%s: write %08X, %u bytes: longer than %u, refused", tag_, address, length, kMaxWriteLength));
        target.Refuse('W');
        return;
    }
    uint32_t where = 0;
    switch (target.Memory().Write(address, data, where)) {
    case WriteResult::Ok:
        target.Note(Format("%s: write %08X, %u bytes", tag_, address, length));
        target.Acknowledge('W');
        break;
    case WriteResult::OutOfRange:
        target.Note(Format("%s: write %08X, %u bytes: %08X is outside the flash, refused", tag_, address, length, where));
        target.Refuse('W');
        break;
    case WriteResult::NotErased:
        target.Note(Format("%s: write %08X, %u bytes: %08X is not erased, refused", tag_, address, length, where));
        target.Refuse('W');
        break;
    }
}

void IapCommandEngine::FinishBaud(Target& target) {
    const SimOptions& options = target.Options();
    uint32_t requested = Le32(frame_.data());
    Reset();
    uint32_t current = target.LineRate() ? target.LineRate() : target.HostRate();
    uint32_t rate = requested ? requested : current;
    if (options.maxBaud && rate > options.maxBaud) rate = options.maxBaud;
    uint8_t answer[4] = {static_cast<uint8_t>(rate), static_cast<uint8_t>(rate >> 8), static_cast<uint8_t>(rate >> 16),
                         static_cast<uint8_t>(rate >> 24)};
    uint32_t count = options.baudAnswerBytes < 4 ? options.baudAnswerBytes : 4;
    target.Note(Format("%s: rate %u requested, switching to %u", tag_, requested, rate));
    target.Send(std::span<const uint8_t>(answer, count));
    if (options.baudAnswerBytes > 4) {
        std::vector<uint8_t> extra(options.baudAnswerBytes - 4, 0x00);
        target.Send(extra);
    }
    // With a short answer the host gives up; the target stays where it was.
    if (count == 4) target.SwitchLineRate(rate);
}
