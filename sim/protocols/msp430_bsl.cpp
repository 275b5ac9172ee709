// MSP430_BSL target: the flash bootstrap loader (BSL) of an MSP430F5xx/6xx part on its
// UART, 9600 baud 8E1 after entry. The host wraps each BSL core command in a packet
//     80 NL NH <command> <data...> CKL CKH
// (NL/NH: the length of command and data; the check is CRC-16/CCITT-FALSE over command
// and data, low byte first). The UART layer answers every packet with one acknowledge
// byte (00, or 51..56 for a broken packet); behind 00 the core answers, in a packet of
// the same kind, with a message (3B and a message code) or data (3A and the bytes).
//
// Memory: the lower 64 KiB of an MSP430F5529. Peripherals and vacant space below 0x1000
// are not modelled, 0x1000-0x17FF holds the BSL itself (read-only), 0x1800-0x19FF the
// info memory in four 128-byte segments D, C, B, A (A locked against writes and erases
// until Unlock/Lock Info toggles it), 0x2400-0x43FF the RAM, 0x4400-0xFFFF the main
// flash in 512-byte segments with the interrupt vectors at the top, whose 32 bytes at
// 0xFFE0 are the BSL password.
//
// Reply keys: "header" for the 51 to a byte that is not a packet header (the host's
// probe 3F is one), "packet" for 52, 53 and 54, "unknown" for an unknown command, and
// each command's code: "0x10" ... "0x1B", "0x52".
#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "protocol.hpp"
#include "protocols/crc16.hpp"
#include "protocols/option_rows.hpp"
#include "text.hpp"

namespace {

constexpr uint8_t kHeader = 0x80;

// The UART layer's acknowledges.
constexpr uint8_t kAck = 0x00;
constexpr uint8_t kHeaderIncorrect = 0x51;
constexpr uint8_t kChecksumIncorrect = 0x52;
constexpr uint8_t kSizeZero = 0x53;
constexpr uint8_t kSizeTooBig = 0x54;
constexpr uint8_t kOtherError = 0x55;
constexpr uint8_t kUnknownBaud = 0x56;

// Core responses and message codes.
constexpr uint8_t kDataResponse = 0x3A;
constexpr uint8_t kMessageResponse = 0x3B;
constexpr uint8_t kOk = 0x00;
constexpr uint8_t kWriteCheckFailed = 0x01;
constexpr uint8_t kFlashFailBit = 0x02;
constexpr uint8_t kLocked = 0x04;
constexpr uint8_t kPasswordError = 0x05;
constexpr uint8_t kUnknownCommand = 0x07;

enum Command : uint8_t {
    kRxData = 0x10,
    kRxPassword = 0x11,
    kEraseSegment = 0x12,
    kToggleInfoLock = 0x13,
    kMassErase = 0x15,
    kCrcCheck = 0x16,
    kLoadPc = 0x17,
    kTxData = 0x18,
    kTxVersion = 0x19,
    kTxBufferSize = 0x1A,
    kRxDataFast = 0x1B,
    kChangeBaud = 0x52,
};

// The BSL's receive buffer: the largest NL/NH it takes, and what TX Buffer Size tells.
constexpr uint32_t kBufferSize = 260;

// The memory map.
constexpr uint32_t kBslStart = 0x1000;
constexpr uint32_t kInfoStart = 0x1800;
constexpr uint32_t kInfoA = 0x1980;
constexpr uint32_t kInfoEnd = 0x1A00;
constexpr uint32_t kRamStart = 0x2400;
constexpr uint32_t kMainStart = 0x4400;
constexpr uint32_t kMainEnd = 0x10000;
constexpr uint32_t kInfoSegment = 128;
constexpr uint32_t kMainSegment = 512;
constexpr uint32_t kVectors = 0xFFE0;
constexpr size_t kPasswordBytes = 32;

// Flash times from the data sheet: segment and mass erase up to 32 ms, 75 us a word.
constexpr uint32_t kEraseMs = 32;
constexpr uint32_t kWordProgramUs = 75;

constexpr uint32_t kStartBaud = 9600;
const std::pair<uint8_t, uint32_t> kBaudCodes[] = {{0x02, 9600}, {0x03, 19200}, {0x04, 38400}, {0x05, 57600}, {0x06, 115200}};

enum class Region { Vacant, Bsl, Info, Ram, Main };

Region RegionOf(uint32_t a) {
    if (a >= kMainStart && a < kMainEnd) return Region::Main;
    if (a >= kRamStart && a < kMainStart) return Region::Ram;
    if (a >= kInfoStart && a < kInfoEnd) return Region::Info;
    if (a >= kBslStart && a < kInfoStart) return Region::Bsl;
    return Region::Vacant;
}

bool IsFlash(uint32_t a) { return RegionOf(a) == Region::Main || RegionOf(a) == Region::Info; }

struct Msp430BslSettings : ProtocolSettings {
    std::vector<uint8_t> version{0x00, 0x05, 0x04, 0x34};  // vendor TI, interpreter, API, peripheral interface
    std::vector<uint8_t> vectors;                           // at 0xFFE0 at the start; empty: erased
    StuckBit stuckBit;

    bool Check(std::string& error) const override {
        if (stuckBit.address && !IsFlash(*stuckBit.address)) {
            error = "--stuck-bit: the address is not in the info memory (1800-19FF) or the main flash (4400-FFFF)";
            return false;
        }
        return true;
    }

    bool SetMemory(SimOptions& o, bool memoryGiven, std::string& error) const override {
        if (memoryGiven) {
            error = "msp430_bsl has the memory map of an MSP430F5529: no --flash-base, --flash-size, --sectors or --ram";
            return false;
        }
        // One flash from the info memory to the top: info segments D..A, the span up to
        // the main flash (never programmed or erased: the BSL keeps the RAM itself and
        // treats the rest as not flash), the main flash segments.
        o.flashBase = kInfoStart;
        o.sectorSizes.assign(4, kInfoSegment);
        o.sectorSizes.push_back(kMainStart - kInfoEnd);
        o.sectorSizes.insert(o.sectorSizes.end(), (kMainEnd - kMainStart) / kMainSegment, kMainSegment);
        o.flashSize = kMainEnd - kInfoStart;
        o.ramBase = o.ramSize = 0;
        return true;
    }
};

class Msp430BslTarget : public Protocol {
public:
    explicit Msp430BslTarget(const Msp430BslSettings& s) : settings_(s), ram_(kMainStart - kRamStart, 0x00) {}

    void Receive(uint8_t byte, Target& t) override {
        Start(t);
        if (running_) {
            if (!quietNoted_) t.Note("msp430_bsl: the user code runs and speaks no BSL until a host opens the terminal again");
            quietNoted_ = true;
            return;
        }
        if (state_ != State::Header && t.Now() - lastByte_ >= std::chrono::milliseconds(t.Options().frameTimeoutMs)) {
            t.Note("msp430_bsl: a pause inside a packet: the partial packet is dropped");
            state_ = State::Header;
        }
        lastByte_ = t.Now();
        switch (state_) {
        case State::Header:
            if (byte == kHeader) {
                state_ = State::LengthLow;
            } else {
                t.Note(Format("msp430_bsl: %02X is no packet header", byte));
                t.Reply("header", std::array<uint8_t, 1>{kHeaderIncorrect});
            }
            break;
        case State::LengthLow:
            length_ = byte;
            state_ = State::LengthHigh;
            break;
        case State::LengthHigh:
            length_ |= uint32_t{byte} << 8;
            if (length_ == 0 || length_ > kBufferSize) {
                // The BSL then waits for the next header: the rest of the packet is
                // read as bytes that are no header.
                t.Note(Format("msp430_bsl: packet length %u: %s", length_, length_ ? "exceeds the buffer" : "zero"));
                t.Reply("packet", std::array<uint8_t, 1>{length_ ? kSizeTooBig : kSizeZero});
                state_ = State::Header;
            } else {
                body_.clear();
                state_ = State::Body;
            }
            break;
        case State::Body:
            body_.push_back(byte);
            if (body_.size() == length_ + 2) {
                state_ = State::Header;
                Packet(t);
            }
            break;
        }
    }

    // The host's connect drives RST and TEST into the BSL entry sequence. A pseudo-
    // terminal has no modem lines, so a host opening the terminal stands for it: the
    // part resets into a fresh, locked BSL at 9600 baud (or --baud).
    void HostOpened(Target& t) override {
        Start(t);
        t.Note("msp430_bsl: a host opened the terminal: reset into the BSL, locked");
        state_ = State::Header;
        locked_ = true;
        infoALocked_ = true;
        running_ = false;
        quietNoted_ = false;
        uint32_t startRate = t.Options().baud ? t.Options().baud : kStartBaud;
        if (rate_ != startRate) t.SwitchLineRate(startRate);
        rate_ = startRate;
    }

private:
    enum class State { Header, LengthLow, LengthHigh, Body };

    // The device's contents at power-up: the vectors of the code it holds.
    void Start(Target& t) {
        if (started_) return;
        started_ = true;
        rate_ = t.Options().baud;
        uint32_t where = 0;
        if (!settings_.vectors.empty()) t.Memory().WriteFlash(kVectors, settings_.vectors, where);
    }

    std::chrono::milliseconds EraseTime(Target& t) const {
        return std::chrono::milliseconds(t.Options().EraseMs(kEraseMs));
    }

    // ---- answers ------------------------------------------------------------------

    // The acknowledge and a core response packet behind it, as one reply.
    static void AppendResponse(std::vector<uint8_t>& out, const std::vector<uint8_t>& payload) {
        uint16_t crc = Crc16CcittFalse(payload);
        out.push_back(kHeader);
        out.push_back(static_cast<uint8_t>(payload.size()));
        out.push_back(static_cast<uint8_t>(payload.size() >> 8));
        out.insert(out.end(), payload.begin(), payload.end());
        out.push_back(static_cast<uint8_t>(crc));
        out.push_back(static_cast<uint8_t>(crc >> 8));
    }
    void Message(Target& t, const std::string& key, uint8_t code, std::chrono::microseconds delay = {}) {
        std::vector<uint8_t> reply{kAck};
        AppendResponse(reply, {kMessageResponse, code});
        t.Reply(key, reply, delay);
    }
    void Data(Target& t, const std::string& key, const std::vector<uint8_t>& data) {
        std::vector<uint8_t> payload{kDataResponse};
        payload.insert(payload.end(), data.begin(), data.end());
        std::vector<uint8_t> reply{kAck};
        AppendResponse(reply, payload);
        t.Reply(key, reply);
    }
    void AckOnly(Target& t, const std::string& key, uint8_t ack = kAck, std::chrono::microseconds delay = {}) {
        t.Reply(key, std::array<uint8_t, 1>{ack}, delay);
    }

    // ---- memory -------------------------------------------------------------------

    uint8_t Read(Target& t, uint32_t a) const {
        switch (RegionOf(a)) {
        case Region::Main:
        case Region::Info: return t.Memory().At(a);
        case Region::Ram: return ram_[a - kRamStart];
        case Region::Bsl: return 0xFF;                 // the BSL's own code is not modelled
        case Region::Vacant: return a & 1 ? 0x3F : 0xFF;  // vacant memory reads 3FFF
        }
        return 0xFF;
    }

    // Writes byte by byte and reads each one back, as the BSL checks its writes: flash
    // only clears bits, info A is left alone while locked, the BSL area and vacant
    // memory take nothing. Stops at the first byte that does not read back as sent.
    // `words`: the flash words programmed, for the timing.
    uint8_t Write(Target& t, uint32_t address, std::span<const uint8_t> data, uint32_t& words) {
        std::optional<uint32_t> lastWord;
        for (size_t i = 0; i < data.size(); ++i) {
            uint32_t a = address + static_cast<uint32_t>(i);
            Region region = RegionOf(a);
            if (region == Region::Ram) {
                ram_[a - kRamStart] = data[i];
            } else if ((region == Region::Main || region == Region::Info) && !(infoALocked_ && InInfoA(a))) {
                uint8_t old = t.Memory().At(a);
                uint8_t programmed = t.Options().overwrite ? data[i] : old & data[i];
                // A weak cell reads right just after programming, then loses its charge.
                uint8_t stored = settings_.stuckBit.Programmed(a, old, programmed);
                uint32_t where = 0;
                t.Memory().WriteFlash(a, std::span<const uint8_t>(&stored, 1), where);
                if (lastWord != a / 2) ++words;
                lastWord = a / 2;
                if (programmed != data[i]) return Failed(t, a, data[i], programmed);
                continue;
            }
            if (Read(t, a) != data[i]) return Failed(t, a, data[i], Read(t, a));
        }
        return kOk;
    }

    uint8_t Failed(Target& t, uint32_t a, uint8_t sent, uint8_t read) {
        const char* why = RegionOf(a) == Region::Bsl      ? " (BSL area, read-only)"
                          : RegionOf(a) == Region::Vacant ? " (no memory there)"
                          : InInfoA(a) && infoALocked_    ? " (info A locked)"
                                                          : " (flash not erased)";
        t.Note(Format("msp430_bsl: write check failed at %05X: %02X written, %02X read%s", a, sent, read, why));
        return kWriteCheckFailed;
    }

    static bool InInfoA(uint32_t a) { return a >= kInfoA && a < kInfoEnd; }

    void EraseMain(Target& t) {
        t.Memory().EraseRange(*t.Memory().SectorAt(kMainStart), *t.Memory().SectorAt(kMainEnd - 1));
    }

    // ---- packets ------------------------------------------------------------------

    void Packet(Target& t) {
        uint16_t crc = Crc16CcittFalse(std::span<const uint8_t>(body_.data(), length_));
        uint16_t sent = static_cast<uint16_t>(body_[length_] | (body_[length_ + 1] << 8));
        if (crc != sent) {
            t.Note(Format("msp430_bsl: packet checksum %04X, the bytes give %04X", sent, crc));
            AckOnly(t, "packet", kChecksumIncorrect);
            return;
        }
        uint8_t command = body_[0];
        std::span<const uint8_t> data(body_.data() + 1, length_ - 1);
        std::string key = Format("0x%02X", command);
        if (command == kChangeBaud) {
            ChangeBaud(data, t);
            return;
        }
        static const uint8_t kKnown[] = {kRxData,   kRxPassword, kEraseSegment, kToggleInfoLock, kMassErase,   kCrcCheck,
                                         kLoadPc,   kTxData,     kTxVersion,    kTxBufferSize,   kRxDataFast};
        if (std::find(std::begin(kKnown), std::end(kKnown), command) == std::end(kKnown)) {
            t.Note(Format("msp430_bsl: unknown command %02X", command));
            Message(t, "unknown", kUnknownCommand);
            return;
        }
        if (t.Refuses(key)) {
            Refuse(command, key, t);
            return;
        }
        // Only the password, the mass erase and the buffer size are open to a locked BSL:
        // even its version it tells only once unlocked.
        bool isProtected = command != kRxPassword && command != kMassErase && command != kTxBufferSize;
        if (locked_ && isProtected) {
            t.Note(Format("msp430_bsl: command %02X: BSL locked", command));
            Message(t, key, kLocked);
            return;
        }
        // Parameters: a 20-bit address in three bytes, for some a 16-bit length behind it;
        // bytes beyond them are ignored (RX Data Block: they are the data).
        bool rx = command == kRxData || command == kRxDataFast;
        size_t params = command == kCrcCheck || command == kTxData               ? 5
                        : rx || command == kEraseSegment || command == kLoadPc ? 3
                                                                               : 0;
        if (data.size() < params) {
            t.Note(Format("msp430_bsl: command %02X with %zu data bytes", command, data.size()));
            AckOnly(t, key, kOtherError);
            return;
        }
        uint32_t address = data.size() >= 3 ? data[0] | (uint32_t{data[1]} << 8) | (uint32_t{data[2]} << 16) : 0;
        uint32_t length = data.size() >= 5 ? data[3] | (uint32_t{data[4]} << 8) : 0;
        switch (command) {
        case kRxData:
        case kRxDataFast: RxData(address, data.subspan(3), command == kRxDataFast, key, t); break;
        case kRxPassword: Password(data, t); break;
        case kEraseSegment: EraseSegment(address, t); break;
        case kToggleInfoLock:
            infoALocked_ = !infoALocked_;
            t.Note(std::string("msp430_bsl: info A ") + (infoALocked_ ? "locked" : "unlocked"));
            Message(t, key, kOk);
            break;
        case kMassErase:
            EraseMain(t);
            t.Note("msp430_bsl: mass erase of the main flash");
            Message(t, key, kOk, EraseTime(t));
            break;
        case kCrcCheck: {
            uint16_t value = 0xFFFF;
            for (uint32_t i = 0; i < length; ++i) {
                uint8_t b = Read(t, address + i);
                value = Crc16CcittFalse(std::span<const uint8_t>(&b, 1), value);
            }
            t.Note(Format("msp430_bsl: CRC check %05X, %u bytes: %04X", address, length, value));
            Data(t, key, {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)});
            break;
        }
        case kLoadPc: LoadPc(address, t); break;
        case kTxData: TxData(address, length, t); break;
        case kTxVersion: Data(t, key, settings_.version); break;
        case kTxBufferSize: Data(t, key, {kBufferSize & 0xFF, kBufferSize >> 8}); break;
        default: break;
        }
    }

    // A refusal by the fault plan: the command's own failure, nothing carried out.
    void Refuse(uint8_t command, const std::string& key, Target& t) {
        t.Note(Format("msp430_bsl: command %02X: refused (nak fault)", command));
        switch (command) {
        case kRxData: Message(t, key, kWriteCheckFailed); break;
        case kRxDataFast: AckOnly(t, key); break;  // the fast write reports nothing
        case kRxPassword: Message(t, key, kPasswordError); break;
        case kEraseSegment:
        case kMassErase: Message(t, key, kFlashFailBit); break;
        case kTxVersion:
        case kTxBufferSize: Message(t, key, kUnknownCommand); break;
        default: Message(t, key, kLocked); break;
        }
    }

    void RxData(uint32_t address, std::span<const uint8_t> data, bool fast, const std::string& key, Target& t) {
        uint32_t words = 0;
        uint8_t code = Write(t, address, data, words);
        t.Note(Format("msp430_bsl: RX data block%s %05X, %zu bytes", fast ? " fast" : "", address, data.size()));
        auto delay = std::chrono::microseconds(t.Options().LineModelled() ? words * kWordProgramUs : 0);
        if (fast)
            AckOnly(t, key, kAck, delay);  // no core response: a failed check goes unreported
        else
            Message(t, key, code, delay);
    }

    void Password(std::span<const uint8_t> password, Target& t) {
        bool right = password.size() == kPasswordBytes;
        for (size_t i = 0; right && i < kPasswordBytes; ++i) right = password[i] == Read(t, kVectors + i);
        if (right) {
            locked_ = false;
            t.Note("msp430_bsl: password right: unlocked");
            Message(t, "0x11", kOk);
            return;
        }
        // A wrong password erases the part: the code it protects is gone, and the erased
        // vectors (32 x FF) are the password from then on.
        EraseMain(t);
        locked_ = true;
        t.Note("msp430_bsl: wrong password: mass erase, locked");
        Message(t, "0x11", kPasswordError, EraseTime(t));
    }

    void EraseSegment(uint32_t address, Target& t) {
        Region region = RegionOf(address);
        if (region != Region::Main && region != Region::Info) {
            // The erase is a dummy write into the segment; outside the flash the flash
            // controller does nothing, and the BSL does not check.
            t.Note(Format("msp430_bsl: erase segment %05X: no flash there, nothing erased", address));
        } else if (infoALocked_ && InInfoA(address)) {
            t.Note(Format("msp430_bsl: erase segment %05X: info A locked, nothing erased", address));
        } else {
            size_t index = *t.Memory().SectorAt(address);
            const Sector& s = t.Memory().Sectors()[index];
            t.Memory().EraseSector(index);
            t.Note(Format("msp430_bsl: erase segment %05X-%05X", s.start, s.start + s.size - 1));
            Message(t, "0x12", kOk, EraseTime(t));
            return;
        }
        Message(t, "0x12", kOk);
    }

    void TxData(uint32_t address, uint32_t length, Target& t) {
        // One data packet per buffer load.
        std::vector<uint8_t> reply{kAck};
        for (uint32_t at = 0; at < length;) {
            uint32_t n = std::min(length - at, kBufferSize - 1);
            std::vector<uint8_t> payload{kDataResponse};
            for (uint32_t i = 0; i < n; ++i) payload.push_back(Read(t, address + at + i));
            AppendResponse(reply, payload);
            at += n;
        }
        t.Note(Format("msp430_bsl: TX data block %05X, %u bytes", address, length));
        t.Reply("0x18", reply);
    }

    void LoadPc(uint32_t address, Target& t) {
        Region region = RegionOf(address);
        const char* where = region == Region::Main ? "main flash" : region == Region::Ram ? "RAM" : "no code memory";
        t.Note(Format("msp430_bsl: load PC %05X (%s): user code starts", address, where));
        AckOnly(t, "0x17");
        running_ = true;
        if (t.Options().exitAfterExec) t.Exit();
    }

    void ChangeBaud(std::span<const uint8_t> data, Target& t) {
        uint32_t rate = 0;
        for (auto [code, baud] : kBaudCodes)
            if (data.size() == 1 && data[0] == code) rate = baud;
        if (t.Refuses("0x52")) {
            t.Note("msp430_bsl: change baud rate: refused (nak fault)");
            rate = 0;
        } else if (!rate) {
            t.Note("msp430_bsl: change baud rate: unknown rate code");
        }
        if (!rate) {
            AckOnly(t, "0x52", kUnknownBaud);
            return;
        }
        // The acknowledge still goes out at the old rate.
        AckOnly(t, "0x52");
        t.SwitchLineRate(rate);
        rate_ = rate;
    }

    Msp430BslSettings settings_;
    std::vector<uint8_t> ram_;
    bool started_ = false;
    State state_ = State::Header;
    SimTime lastByte_{};
    uint32_t length_ = 0;
    std::vector<uint8_t> body_;  // command, data, CRC
    bool locked_ = true;
    bool infoALocked_ = true;
    bool running_ = false;
    bool quietNoted_ = false;
    uint32_t rate_ = 0;  // the UART rate the BSL set last
};

const ProtocolOption kOptions[] = {
    HexBytesRow<&Msp430BslSettings::version, 4>(
        "--bsl-version", "the 4 bytes of TX BSL Version: vendor, interpreter, API,\nperipheral interface (default 00 05 04 34)"),
    HexBytesRow<&Msp430BslSettings::vectors, kPasswordBytes>(
        "--vectors", "the interrupt vectors FFE0-FFFF at the start, 32 bytes:\nthe BSL password (default: erased, 32 x FF)"),
    StuckBitRow<&Msp430BslSettings::stuckBit, kMainStart>(
        "this flash bit never programs (stays 1); the BSL's write\ncheck misses it, CRC Check and TX Data Block see it"),
};

}  // namespace

const ProtocolEntry& Msp430BslProtocol() {
    static const ProtocolEntry entry = ProtocolEntryFor<Msp430BslSettings, Msp430BslTarget>(
        "msp430_bsl",
        "the bootstrap loader (BSL) of an MSP430F5xx/6xx part on its UART,\n"
        "9600 baud 8E1 (memory map of an MSP430F5529, lower 64 KiB): 0x80\n"
        "packets with CRC, password, erase, data blocks, CRC check, Load PC",
        "header packet unknown 0x10 0x11 0x12 0x13 0x15 0x16 0x17 0x18 0x19 0x1A 0x1B 0x52", "8E1", kOptions);
    return entry;
}
