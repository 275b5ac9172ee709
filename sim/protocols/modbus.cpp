// MODBUS target: a Modbus RTU slave whose resident bootloader takes its commands in
// frames of the user-defined function 0x41 (slave, 0x41, payload length, payload, CRC):
// 0x08 connect, 0x02 erase, 0x05 write (address most significant byte first, 1 to 128
// data bytes), each answered slave, 0x41, 0x01, 0x06 (done) or 0x15 (refused), CRC.
// The standard Write Multiple Registers (0x10) of the forwarding register 0x07CF is
// answered with the standard echo (so is Write Single Register, 0x06, and Read Holding
// Registers, 0x03, reads it); with forwarding configured, each bootloader frame must
// follow a write of that register, as a forwarding device passes on only the frame
// announced to it.
//
// RTU frames are delimited by a silence of 3.5 character times, but a host may send
// them back to back: the slave also ends a frame by the length its function implies.
// A frame with a bad CRC, or for another slave, gets no answer, as on a real bus; after
// a bad frame the slave waits for a silence before it takes the next one.
//
// Reply keys: "0x41.08", "0x41.02", "0x41.05" for the bootloader commands, "0x41" for
// a bootloader frame with another command, "0x10", "0x06" and "0x03" for the register
// functions and "exception" for the exception answer to any other function.
#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "protocol.hpp"
#include "protocols/crc16.hpp"
#include "text.hpp"

namespace {

constexpr uint8_t kBootloader = 0x41;
constexpr uint8_t kReadRegisters = 0x03, kWriteRegister = 0x06, kWriteRegisters = 0x10;
constexpr uint16_t kForwardingRegister = 0x07CF;
constexpr uint8_t kDone = 0x06;
constexpr uint8_t kRefused = 0x15;
constexpr uint8_t kConnect = 0x08, kErase = 0x02, kWrite = 0x05;
constexpr size_t kMaxWriteData = 128;
// Exception codes of the Modbus application protocol.
constexpr uint8_t kIllegalFunction = 0x01, kIllegalAddress = 0x02, kIllegalValue = 0x03, kDeviceFailure = 0x04;
// Typical of a small Modbus bootloader: erasing the application area takes 100 ms,
// programming a block of up to 128 bytes 1 ms.
constexpr uint32_t kEraseMs = 100;
constexpr uint32_t kWriteMs = 1;

struct ModbusSettings : ProtocolSettings {
    uint8_t slave = 1;
    bool forwarding = false;         // a register write must announce each bootloader frame
    std::optional<uint16_t> value;   // ... with this value (P3 high, P2 low); none: any value
};

class ModbusTarget : public Protocol {
public:
    explicit ModbusTarget(const ModbusSettings& s) : settings_(s) {}

    void Receive(uint8_t byte, Target& t) override {
        SimTime now = t.Now();
        if ((skipping_ || !frame_.empty()) && now - last_ > Silence(t)) {
            if (!frame_.empty())
                t.Note(Format("modbus: %zu bytes of an incomplete frame dropped after a silence", frame_.size()));
            frame_.clear();
            skipping_ = false;
        }
        last_ = now;
        if (skipping_) return;
        frame_.push_back(byte);
        size_t length = FrameLength();
        if (length && frame_.size() == length) {
            std::vector<uint8_t> frame;
            frame.swap(frame_);
            Frame(frame, t);
        }
    }

    void EndOfInput(Target& t) override {
        // A function whose frame length the slave does not know ends with the silence
        // after it; the bytes that came together stand for that.
        if (frame_.size() < 4 || KnownLength(frame_[1])) return;
        std::vector<uint8_t> frame;
        frame.swap(frame_);
        Frame(frame, t);
    }

private:
    static bool KnownLength(uint8_t function) {
        return function == kBootloader || function == kWriteRegisters || function == 0x0F ||
               (function >= 0x01 && function <= 0x06);
    }

    // The whole frame's length as far as the bytes so far tell; 0: not known (yet).
    size_t FrameLength() const {
        if (frame_.size() < 2 || !KnownLength(frame_[1])) return 0;
        switch (frame_[1]) {
        case kBootloader:
            return frame_.size() < 3 ? 0 : 3 + frame_[2] + 2;
        case 0x0F:
        case kWriteRegisters:
            return frame_.size() < 7 ? 0 : 7 + frame_[6] + 2;
        default:
            return 8;  // functions 01 to 06: slave, function, address, quantity or value, CRC
        }
    }

    // 3.5 character times of 11 bits; above 19200 baud the standard fixes 1.75 ms.
    // Without the line model the times are those at which the bytes were read from the
    // terminal, not those of a line: a pause shorter than 20 ms is not taken as one.
    std::chrono::microseconds Silence(const Target& t) const {
        uint32_t rate = t.LineRate() ? t.LineRate() : t.HostRate();
        std::chrono::microseconds silence(rate == 0 || rate > 19200 ? 1750 : 38500000 / rate);
        if (!t.Options().LineModelled())
            silence = std::max<std::chrono::microseconds>(silence, std::chrono::milliseconds(20));
        return silence;
    }

    void Frame(const std::vector<uint8_t>& frame, Target& t) {
        size_t n = frame.size();
        uint16_t received = static_cast<uint16_t>(frame[n - 2] | (frame[n - 1] << 8));
        uint16_t computed = Crc16Modbus(std::span<const uint8_t>(frame.data(), n - 2));
        if (received != computed) {
            t.Note(Format("modbus: frame of %zu bytes, function %02X: CRC %04X, expected %04X: no answer", n, frame[1],
                          received, computed));
            skipping_ = true;  // what follows without a silence belongs to the bad frame
            return;
        }
        if (frame[0] != settings_.slave) {
            t.Note(Format("modbus: frame for slave %u, function %02X: not this slave (%u)", frame[0], frame[1],
                          settings_.slave));
            return;
        }
        switch (frame[1]) {
        case kReadRegisters:
        case kWriteRegister:
        case kWriteRegisters:
            Registers(frame, t);
            break;
        case kBootloader:
            Bootloader(std::span<const uint8_t>(frame.data() + 3, frame[2]), t);
            break;
        default:
            t.Note(Format("modbus: function %02X: not supported, exception 01", frame[1]));
            Exception(frame[1], kIllegalFunction, "exception", t);
            break;
        }
    }

    void Send(const std::string& key, std::vector<uint8_t> answer, Target& t, uint32_t workMs = 0) {
        uint16_t crc = Crc16Modbus(answer);
        answer.push_back(static_cast<uint8_t>(crc));
        answer.push_back(static_cast<uint8_t>(crc >> 8));
        // The answer starts after the frame gap that ends the request.
        auto delay = std::chrono::milliseconds(workMs);
        if (t.Options().LineModelled())
            delay += std::chrono::duration_cast<std::chrono::milliseconds>(Silence(t) + std::chrono::microseconds(999));
        t.Reply(key, answer, delay);
    }

    void Exception(uint8_t function, uint8_t code, const std::string& key, Target& t) {
        Send(key, {settings_.slave, static_cast<uint8_t>(function | 0x80), code}, t);
    }

    // The holding-register functions, on the slave's one register, 0x07CF.
    void Registers(const std::vector<uint8_t>& frame, Target& t) {
        uint8_t function = frame[1];
        std::string key = Format("0x%02X", function);
        uint16_t address = static_cast<uint16_t>(frame[2] << 8 | frame[3]);
        uint16_t quantity = function == kWriteRegister ? 1 : static_cast<uint16_t>(frame[4] << 8 | frame[5]);
        std::string what = Format("modbus: register %s of %u at %04X", function == kReadRegisters ? "read" : "write",
                                  quantity, address);
        if (t.Refuses(key)) {
            t.Note(what + ": refused (nak fault), exception 04");
            Exception(function, kDeviceFailure, key, t);
            return;
        }
        bool counted = function == kWriteRegisters ? quantity >= 1 && quantity <= 123 && frame[6] == 2 * quantity
                       : function == kReadRegisters ? quantity >= 1 && quantity <= 125
                                                    : true;
        if (!counted) {
            t.Note(what + ": bad quantity or byte count, exception 03");
            Exception(function, kIllegalValue, key, t);
            return;
        }
        if (address != kForwardingRegister || quantity != 1) {
            t.Note(what + ": no such register, exception 02");
            Exception(function, kIllegalAddress, key, t);
            return;
        }
        if (function == kReadRegisters) {
            t.Note(Format("%s: %04X", what.c_str(), register_));
            Send(key, {settings_.slave, function, 2, static_cast<uint8_t>(register_ >> 8), static_cast<uint8_t>(register_)}, t);
            return;
        }
        size_t at = function == kWriteRegister ? 4 : 7;
        register_ = static_cast<uint16_t>(frame[at] << 8 | frame[at + 1]);
        armed_ = settings_.forwarding && (!settings_.value || register_ == *settings_.value);
        what = Format("modbus: forwarding register = %04X", register_);
        if (settings_.forwarding) what += armed_ ? ": the next bootloader frame passes" : ": not the expected value";
        t.Note(what);
        // Both writes are answered with their first six bytes: slave, function, address,
        // and the quantity (0x10) or the value (0x06).
        Send(key, {frame.begin(), frame.begin() + 6}, t);
    }

    void Bootloader(std::span<const uint8_t> payload, Target& t) {
        if (settings_.forwarding && !armed_) {
            t.Note("modbus: bootloader frame without a forwarding request before it: not passed on");
            return;
        }
        armed_ = false;
        uint8_t command = payload.empty() ? 0 : payload[0];
        bool known = command == kConnect || command == kErase || command == kWrite;
        std::string key = known ? Format("0x41.%02X", command) : "0x41";
        auto answer = [&](uint8_t code, uint32_t workMs = 0) {
            Send(key, {settings_.slave, kBootloader, 0x01, code}, t, workMs);
        };
        if (t.Refuses(key)) {
            t.Note("modbus: bootloader command " + key + ": refused (nak fault)");
            answer(kRefused);
            return;
        }
        switch (command) {
        case kConnect:
            if (payload.size() != 1) break;
            t.Note("modbus: connect");
            answer(kDone);
            return;
        case kErase: {
            if (payload.size() != 1) break;
            t.Memory().EraseAll();
            t.Note("modbus: erase");
            answer(kDone, t.Options().EraseMs(kEraseMs));
            return;
        }
        case kWrite: {
            if (payload.size() < 6 || payload.size() > 5 + kMaxWriteData) {
                t.Note(Format("modbus: write with %zu data bytes: refused", payload.size() < 5 ? 0 : payload.size() - 5));
                answer(kRefused);
                return;
            }
            uint32_t address = uint32_t{payload[1]} << 24 | uint32_t{payload[2]} << 16 | uint32_t{payload[3]} << 8 | payload[4];
            std::span<const uint8_t> data = payload.subspan(5);
            std::string write = Format("modbus: write %08X, %zu bytes", address, data.size());
            uint32_t where = 0;
            switch (t.Memory().WriteFlash(address, data, where)) {
            case WriteResult::Ok:
                t.Note(write);
                answer(kDone, t.Options().LineModelled() ? kWriteMs : 0);
                return;
            case WriteResult::OutOfRange:
                t.Note(Format("%s: %08X is outside the flash, refused", write.c_str(), where));
                break;
            case WriteResult::NotErased:
                t.Note(Format("%s: %08X is not erased, refused", write.c_str(), where));
                break;
            }
            answer(kRefused);
            return;
        }
        default:
            break;
        }
        t.Note(Format("modbus: bootloader payload of %zu bytes, command %02X: refused", payload.size(), command));
        answer(kRefused);
    }

    ModbusSettings settings_;
    std::vector<uint8_t> frame_;
    SimTime last_{};
    bool skipping_ = false;
    bool armed_ = false;
    uint16_t register_ = 0;  // the forwarding register
};

const ProtocolOption kOptions[] = {
    {"--slave", "N", "the slave address, 1 to 247 (default 1)",
     [](ProtocolSettings& s, const std::string& v, std::string& what) {
         what = "1 to 247";
         uint32_t n = 0;
         if (!ParseU32(v, n, 247) || n == 0) return false;
         SettingsOf<ModbusSettings>(s).slave = static_cast<uint8_t>(n);
         return true;
     }},
    {"--forwarding", "P2,P3|any",
     "each bootloader frame must follow a write of register\n0x07CF (1999) with the value P3 * 256 + P2, or with\n"
     "any value; frames without it are not passed on",
     [](ProtocolSettings& s, const std::string& v, std::string& what) {
         what = "two numbers 0-255 as 3,5, or any";
         SettingsOf<ModbusSettings>(s).forwarding = true;
         if (v == "any") return true;
         size_t comma = v.find(',');
         uint32_t p2 = 0, p3 = 0;
         if (comma == std::string::npos || !ParseU32(v.substr(0, comma), p2, 255) ||
             !ParseU32(v.substr(comma + 1), p3, 255))
             return false;
         SettingsOf<ModbusSettings>(s).value = static_cast<uint16_t>(p3 << 8 | p2);
         return true;
     }},
};

}  // namespace

const ProtocolEntry& ModbusProtocol() {
    static const ProtocolEntry entry = ProtocolEntryFor<ModbusSettings, ModbusTarget>(
        "modbus",
        "a Modbus RTU slave with a resident bootloader: function 0x41\n"
        "frames (connect, erase, write), the write of the forwarding\n"
        "register 0x07CF (functions 0x10, 0x06; 0x03 reads it)",
        "0x41.08 0x41.02 0x41.05 0x41 0x10 0x06 0x03 exception", nullptr, kOptions);
    return entry;
}
