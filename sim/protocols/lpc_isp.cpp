// LPC_ISP target: the boot ROM of an NXP LPC2xxx (ARM7) or LPC17xx/13xx/11xx (Cortex-M)
// part in ISP mode. Autobaud on '?', "Synchronized", the crystal line, then one text
// command per line, each byte echoed while echo is on, each command answered with a
// decimal return code; data travels as UU-encoded lines with a decimal checksum after
// every 20 lines and after the last, answered "OK" or "RESEND".
//
// Reply keys: the command letter for each command's answer, "sync" for the answer to
// '?', "synced" for the OK to the host's "Synchronized", "clock" for the OK to the
// crystal line, "checksum" for OK/RESEND, "invalid" for an unknown command, "echo" for
// each echoed byte, "emu" for what code started in RAM sends on the emulated CPU, and
// "iap.C" ... "iap.X" for the modelled RAM programming routine (without emulation).
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <sstream>

#include "protocols/lpc_isp.hpp"
#include "protocols/lpc_emu.hpp"
#include "protocols/lpc_ram_routine.hpp"
#include "text.hpp"

namespace {

constexpr uint32_t kUnlockCode = 23130;
constexpr size_t kUuLineBytes = 45;
constexpr size_t kLinesPerChecksum = 20;
constexpr size_t kMaxLine = 256;
constexpr uint8_t kEscape = 0x1B;
constexpr uint32_t kWatchdogRoutine = 0x400002F0;
constexpr uint32_t kWatchdogRoutineBytes = 56;
constexpr uint32_t kDefaultCrystalKhz = 12000;  // started in command mode: no crystal line
constexpr uint32_t kCrpWords[] = {0, 0x12345678, 0x87654321, 0x43218765};  // CRP1..3 in flash
const char kCommandLetters[] = "UBAWRPCEIJKNMG";
const uint32_t kBaudRates[] = {9600, 19200, 38400, 57600, 115200, 230400};

// Decimal number without sign, as the boot ROM reads them.
bool Decimal(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > 0xFFFFFFFFull) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

std::string UuLine(const uint8_t* data, size_t count) {
    auto ch = [](uint32_t v) { return static_cast<char>(v ? v + 32 : '`'); };
    std::string line(1, static_cast<char>(count + 32));
    for (size_t i = 0; i < count; i += 3) {
        uint32_t group = uint32_t{data[i]} << 16;
        if (i + 1 < count) group |= uint32_t{data[i + 1]} << 8;
        if (i + 2 < count) group |= data[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) line += ch((group >> shift) & 0x3F);
    }
    return line + "\r\n";
}

std::vector<uint8_t> UuDecode(const std::string& line) {
    std::vector<uint8_t> bytes;
    if (line.empty()) return bytes;
    auto value = [&](size_t i) -> uint32_t { return i < line.size() ? (static_cast<uint8_t>(line[i]) - 32) & 0x3F : 0; };
    size_t count = value(0);
    for (size_t i = 1; bytes.size() < count; i += 4) {
        uint32_t group = (value(i) << 18) | (value(i + 1) << 12) | (value(i + 2) << 6) | value(i + 3);
        for (int shift = 16; shift >= 0 && bytes.size() < count; shift -= 8) bytes.push_back(static_cast<uint8_t>(group >> shift));
    }
    return bytes;
}

class LpcIspTarget : public Protocol, private LpcFlash {
public:
    explicit LpcIspTarget(const LpcIspSettings& s)
        : part_(*s.part), crp_(s.crp), stuckBit_(s.stuckBit), emulate_(s.emulate),
          prepared_(s.part->sectors, false) {
        reportId_ = s.reportId;
        bootMajor_ = s.bootMajor || s.bootMinor ? s.bootMajor : (part_.Cortex() ? 4 : 2);
        bootMinor_ = s.bootMajor || s.bootMinor ? s.bootMinor : (part_.Cortex() ? 1 : 12);
        autobaudRate_ = s.autobaudRate;
        bool closed = crp_ == 3 && !s.reinvoked;
        state_ = closed ? State::Closed : s.commandMode ? State::Command : State::AutoBaud;
    }

    void Receive(uint8_t byte, Target& t) override {
        t_ = &t;
        switch (state_) {
        case State::Closed:
            NoteOnce(t, "lpc_isp: code read protection 3: the boot ROM does not enter ISP, no answer");
            return;
        case State::Running:
            NoteOnce(t, "lpc_isp: the started code does not speak ISP, no answer");
            return;
        case State::Routine:
            routine_->Receive(byte, t);
            return;
        case State::Emulated:
            emulator_->Receive(byte, t);
            return;
        case State::AutoBaud:
            if (byte == '?') Autobaud(t);
            return;
        default:
            break;
        }
        if (crPending_) {
            // CR ended a line; an LF right behind it belongs to the same line end.
            crPending_ = false;
            if (byte == '\n') {
                Echo(byte, t);
                Line(t);
                return;
            }
            Line(t);
            Receive(byte, t);
            return;
        }
        if (!rateLocked_) Lock(t);  // started in command mode: the first rate heard is the rate
        Echo(byte, t);
        if (byte == '\r') {
            crPending_ = true;
        } else if (byte == '\n') {
            Line(t);
        } else if (byte == kEscape && state_ == State::Command) {
            line_.clear();  // ESC throws the partial command line away
        } else if (line_.size() < kMaxLine) {
            line_ += static_cast<char>(byte);
        }
    }

    void EndOfInput(Target& t) override {
        t_ = &t;
        if (!crPending_) return;
        crPending_ = false;
        Line(t);
    }

    SimTime Work(Target& t) override {
        t_ = &t;
        if (state_ != State::Emulated) return SimTime::max();
        SimTime next = emulator_->Work(t);
        LpcEmuEnd end = emulator_->End();
        if (end == LpcEmuEnd::Running) return next;
        emulator_->Finish(t);
        uint32_t address = emulator_->EndAddress();
        emulator_.reset();
        switch (end) {
        case LpcEmuEnd::Reset: Reset(t); break;
        case LpcEmuEnd::ReinvokeIsp: Restart(t, false); break;  // ISP called from code: open even with CRP3
        case LpcEmuEnd::UserCode: Started(address, t, true); break;
        default: state_ = State::Running; break;
        }
        return SimTime::max();
    }

private:
    enum class State { AutoBaud, SyncLine, ClockLine, Command, WriteData, ReadWait, Running, Routine, Emulated, Closed };

    void NoteOnce(Target& t, const char* text) {
        if (quietNoted_) return;
        quietNoted_ = true;
        t.Note(text);
    }

    void Echo(uint8_t byte, Target& t) {
        if (echo_) t.Reply("echo", std::span<const uint8_t>(&byte, 1));
    }

    void Send(Target& t, const std::string& key, const std::string& text, std::chrono::milliseconds delay = {}) {
        t.Reply(key, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()), delay);
    }

    void Answer(Target& t, const std::string& key, int code, const std::string& more = "",
                std::chrono::milliseconds delay = {}) {
        Send(t, key, std::to_string(code) + "\r\n" + more, delay);
    }

    void Lock(Target& t) {
        rateLocked_ = true;
        if (t.LineRate() == 0) t.SwitchLineRate(t.HostRate());
    }

    void Autobaud(Target& t) {
        if (t.Refuses("sync")) {
            t.Note("lpc_isp: autobaud: refused (nak fault)");
            t.Reply("sync", {});
            return;
        }
        Lock(t);
        t.Note(Format("lpc_isp: autobaud at %u baud", t.LineRate() ? t.LineRate() : t.HostRate()));
        Send(t, "sync", "Synchronized\r\n");
        state_ = State::SyncLine;
        line_.clear();
    }

    // Back to autobaud after a failed synchronisation, or after a reset, which with
    // code read protection 3 does not enter ISP.
    void Restart(Target& t, bool reset) {
        state_ = reset && crp_ == 3 ? State::Closed : State::AutoBaud;
        echo_ = true;
        unlocked_ = false;
        rateLocked_ = false;
        line_.clear();
        std::fill(prepared_.begin(), prepared_.end(), false);
        t.SwitchLineRate(autobaudRate_.value_or(t.Options().baud));
    }

    void Line(Target& t) {
        std::string line;
        line.swap(line_);
        if (line.empty() && state_ != State::WriteData) return;  // extra CR or LF: ignored
        switch (state_) {
        case State::SyncLine:
            if (line != "Synchronized") {
                t.Note("lpc_isp: '" + line + "' instead of Synchronized: autobaud again");
                Restart(t, false);
            } else if (t.Refuses("synced")) {
                t.Note("lpc_isp: Synchronized: refused (nak fault)");
                t.Reply("synced", {});
            } else {
                Send(t, "synced", "OK\r\n");
                state_ = State::ClockLine;
            }
            break;
        case State::ClockLine: {
            uint32_t khz = 0;
            if (!Decimal(line, khz)) {
                t.Note("lpc_isp: '" + line + "' is no crystal frequency, ignored");
            } else if (t.Refuses("clock")) {
                t.Note("lpc_isp: crystal frequency: refused (nak fault)");
                t.Reply("clock", {});
            } else {
                t.Note(Format("lpc_isp: crystal %u kHz, command mode", khz));
                crystalKhz_ = khz;
                Send(t, "clock", "OK\r\n");
                state_ = State::Command;
            }
            break;
        }
        case State::Command:
            Command(line, t);
            break;
        case State::WriteData:
            DataLine(line, t);
            break;
        case State::ReadWait:
            ReadAnswer(line, t);
            break;
        default:
            break;
        }
    }

    // ---- memory views -------------------------------------------------------------

    uint32_t SectorStart(uint32_t n) const { return t_->Memory().Sectors()[n].start; }
    uint32_t SectorEnd(uint32_t n) const { return SectorStart(n) + t_->Memory().Sectors()[n].size; }
    bool InFlash(uint64_t a, uint64_t n) const { return n && a + n <= t_->Memory().Size(); }
    bool InRam(uint64_t a, uint64_t n) const {
        const TargetMemory& m = t_->Memory();
        return n && a >= m.RamBase() && a + n <= uint64_t{m.RamBase()} + m.RamSize();
    }

    // The boot ROM's own vectors, which it maps over the start of the flash in ISP mode.
    uint8_t BootRomByte(uint32_t offset) const {
        uint32_t word = offset / 4;
        uint32_t value;
        if (!part_.Cortex())
            value = word < 8 ? 0xE59FF018u : 0x7FFFE040u + 4 * (word - 8);  // LDR PC, [PC, #24] and its table
        else
            value = word == 0 ? 0x10000200u - 32 : 0x1FFF0101u + 8 * word;  // stack top, handlers
        return static_cast<uint8_t>(value >> (8 * (offset % 4)));
    }

    // Flash or RAM as the boot ROM sees it; false when the range is not in one region.
    bool ReadView(uint32_t address, std::vector<uint8_t>& out) {
        uint32_t where = 0;
        if (!t_->Memory().Read(address, out, where)) return false;
        if (InFlash(address, out.size()))
            for (size_t i = 0; i < out.size() && address + i < part_.BootVectorBytes(); ++i)
                out[i] = BootRomByte(static_cast<uint32_t>(address + i));
        return true;
    }

    // ---- commands -----------------------------------------------------------------

    void Command(const std::string& line, Target& t) {
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string word; words >> word;) w.push_back(word);
        if (w.empty()) return;
        if (w[0].size() != 1 || !std::strchr(kCommandLetters, w[0][0]) || w[0][0] == 0) {
            t.Note("lpc_isp: unknown command '" + line + "'");
            Answer(t, "invalid", kInvalidCommand);
            return;
        }
        char c = w[0][0];
        std::string key(1, c);
        // Every command takes a fixed number of decimal numbers; G a mode letter too.
        static const std::pair<char, size_t> kArgs[] = {{'U', 1}, {'B', 2}, {'A', 1}, {'W', 2}, {'R', 2},
                                                        {'P', 2}, {'C', 3}, {'E', 2}, {'I', 2}, {'J', 0},
                                                        {'K', 0}, {'N', 0}, {'M', 3}, {'G', 1}};
        size_t wanted = 0;
        for (auto [letter, n] : kArgs)
            if (letter == c) wanted = n;
        std::vector<uint32_t> a(wanted);
        bool ok = w.size() == 1 + wanted + (c == 'G');
        for (size_t i = 0; ok && i < wanted; ++i) ok = Decimal(w[1 + i], a[i]);
        if (ok && c == 'G') ok = w[2] == "T" || w[2] == "A";
        if (t.Refuses(key)) {
            // The command's own failure, nothing carried out.
            static const std::pair<char, const char*> kFailures[] = {
                {'U', "16\r\n"}, {'B', "17\r\n"}, {'A', "12\r\n"}, {'W', "13\r\n"}, {'R', "13\r\n"},
                {'P', "7\r\n"},  {'C', "9\r\n"},  {'E', "9\r\n"},  {'I', "8\r\n0\r\n0\r\n"}, {'J', "1\r\n"},
                {'K', "1\r\n"},  {'N', "1\r\n"},  {'M', "10\r\n0\r\n"}, {'G', "13\r\n"}};
            for (auto [letter, text] : kFailures)
                if (letter == c) {
                    t.Note("lpc_isp: " + line + ": refused (nak fault)");
                    Send(t, key, text);
                }
            return;
        }
        if (!ok) {
            t.Note("lpc_isp: " + line + ": wrong parameters");
            Answer(t, key, kParamError);
            return;
        }
        int code = kSuccess;
        switch (c) {
        case 'U': code = Unlock(a[0], t); break;
        case 'B': code = Baud(a[0], a[1], t); break;
        case 'A': code = a[0] > 1 ? kParamError : (echo_ = a[0] == 1, kSuccess); break;
        case 'W': code = WriteRam(a[0], a[1], t); break;
        case 'R': code = Read(a[0], a[1], t); break;
        case 'P': code = Prepare(a[0], a[1], t); break;
        case 'C': code = Copy(a[0], a[1], a[2], t); break;
        case 'E': code = Erase(a[0], a[1], t); break;
        case 'I': code = BlankCheck(a[0], a[1], t); break;
        case 'J': code = (Answer(t, key, kSuccess, std::to_string(reportId_.value_or(part_.id)) + "\r\n"), -1); break;
        case 'K': code = (Answer(t, key, kSuccess, Format("%u\r\n%u\r\n", bootMinor_, bootMajor_)), -1); break;
        case 'N': {
            std::array<uint32_t, 4> serial = Serial();
            code = (Answer(t, key, kSuccess, Format("%u\r\n%u\r\n%u\r\n%u\r\n", serial[0], serial[1], serial[2], serial[3])), -1);
            break;
        }
        case 'M': code = Compare(a[0], a[1], a[2], t); break;
        case 'G': code = Go(a[0], w[2][0] == 'T', t); break;
        }
        if (code >= 0) {
            if (code != kSuccess) t.Note(Format("lpc_isp: %s: return code %d", line.c_str(), code));
            Answer(t, key, code);
        }
    }

    int Unlock(uint32_t code, Target& t) {
        if (code != kUnlockCode) return kInvalidCode;
        unlocked_ = true;
        t.Note("lpc_isp: unlocked");
        return kSuccess;
    }

    int Baud(uint32_t rate, uint32_t stopBits, Target& t) {
        if (std::find(std::begin(kBaudRates), std::end(kBaudRates), rate) == std::end(kBaudRates)) return kInvalidBaudRate;
        if (stopBits != 1 && stopBits != 2) return kInvalidStopBit;
        t.Note(Format("lpc_isp: rate %u, %u stop bit(s) (the line format stays as it is)", rate, stopBits));
        Answer(t, "B", kSuccess);
        t.SwitchLineRate(rate);
        return -1;
    }

    int WriteRam(uint32_t address, uint32_t count, Target& t) {
        if (crp_ >= 2) return kCrpEnabled;
        if (address % 4) return kAddrError;
        if (count % 4) return kCountError;
        if (count && !InRam(address, count)) return kAddrNotMapped;
        // The boot ROM's variables and stack live below the user RAM start.
        if (count && address < part_.RamUserStart()) return crp_ ? kCrpEnabled : kAddrNotMapped;
        t.Note(Format("lpc_isp: write to RAM %08X, %u bytes", address, count));
        Answer(t, "W", kSuccess);
        if (!count) return -1;
        state_ = State::WriteData;
        writeAddress_ = address;
        writeCount_ = count;
        committed_ = 0;
        NewBlock();
        return -1;
    }

    void NewBlock() {
        block_.clear();
        blockLines_ = 0;
        blockSum_ = 0;
        expectChecksum_ = false;
    }

    void DataLine(const std::string& line, Target& t) {
        if (!expectChecksum_) {
            std::vector<uint8_t> bytes = UuDecode(line);
            size_t room = writeCount_ - committed_ - block_.size();
            if (bytes.size() > room) bytes.resize(room);
            for (uint8_t b : bytes) blockSum_ += b;
            block_.insert(block_.end(), bytes.begin(), bytes.end());
            ++blockLines_;
            expectChecksum_ = blockLines_ == kLinesPerChecksum || committed_ + block_.size() >= writeCount_;
            return;
        }
        uint32_t sum = 0;
        bool good = Decimal(line, sum) && sum == blockSum_;
        std::string what = Format("lpc_isp: checksum %s for %zu bytes at %08X", line.c_str(), block_.size(),
                                  writeAddress_ + committed_);
        if (t.Refuses("checksum")) {
            t.Note(what + ": RESEND (nak fault)");
            good = false;
        } else if (!good) {
            t.Note(what + Format(": the data sum to %u, RESEND", blockSum_));
        }
        if (good) {
            uint32_t where = 0;
            t.Memory().WriteRam(writeAddress_ + committed_, block_, where);
            committed_ += static_cast<uint32_t>(block_.size());
            Send(t, "checksum", "OK\r\n");
        } else {
            Send(t, "checksum", "RESEND\r\n");
        }
        NewBlock();
        if (committed_ >= writeCount_) state_ = State::Command;
    }

    int Read(uint32_t address, uint32_t count, Target& t) {
        if (crp_) return kCrpEnabled;
        if (address % 4) return kAddrError;
        if (count % 4) return kCountError;
        if (count && !InFlash(address, count) && !InRam(address, count)) return kAddrNotMapped;
        readData_.assign(count, 0);
        ReadView(address, readData_);
        t.Note(Format("lpc_isp: read %08X, %u bytes", address, count));
        readAt_ = 0;
        if (!count) return kSuccess;
        state_ = State::ReadWait;
        Send(t, "R", "0\r\n" + ReadBlock());
        return -1;
    }

    // The next up to 20 lines of the read from readAt_, and their checksum line.
    std::string ReadBlock() {
        std::string text;
        uint32_t sum = 0;
        size_t at = readAt_;
        for (size_t line = 0; line < kLinesPerChecksum && at < readData_.size(); ++line) {
            size_t n = std::min(kUuLineBytes, readData_.size() - at);
            text += UuLine(readData_.data() + at, n);
            for (size_t i = 0; i < n; ++i) sum += readData_[at + i];
            at += n;
        }
        readNext_ = at;
        return text + std::to_string(sum) + "\r\n";
    }

    void ReadAnswer(const std::string& line, Target& t) {
        if (line == "RESEND") {
            t.Note("lpc_isp: read: the host asks for the lines again");
            Send(t, "R", ReadBlock());
            return;
        }
        if (line != "OK") t.Note("lpc_isp: read: '" + line + "' instead of OK or RESEND, read ended");
        readAt_ = readNext_;
        if (line == "OK" && readAt_ < readData_.size()) {
            Send(t, "R", ReadBlock());
        } else {
            state_ = State::Command;
        }
    }

    bool Sectors(uint32_t first, uint32_t last) const { return first <= last && last < prepared_.size(); }

    int Prepare(uint32_t first, uint32_t last, Target& t) {
        if (!Sectors(first, last)) return kInvalidSector;
        std::fill(prepared_.begin() + first, prepared_.begin() + last + 1, true);
        t.Note(Format("lpc_isp: prepare sectors %u to %u", first, last));
        return kSuccess;
    }

    int Copy(uint32_t flash, uint32_t ram, uint32_t count, Target& t) {
        if (!unlocked_) return kCmdLocked;
        if (crp_ >= 2) return kCrpEnabled;
        if (flash % 256) return kDstAddrError;
        if (ram % 4) return kSrcAddrError;
        if (!part_.CopyCountValid(count)) return kCountError;
        if (!InFlash(flash, count)) return kDstAddrNotMapped;
        if (!InRam(ram, count)) return kSrcAddrNotMapped;
        size_t first = *t.Memory().SectorAt(flash), last = *t.Memory().SectorAt(flash + count - 1);
        if (crp_ == 1 && first == 0) return kCrpEnabled;
        for (size_t s = first; s <= last; ++s)
            if (!prepared_[s]) return kSectorNotPrepared;
        std::vector<uint8_t> data(count);
        uint32_t where = 0;
        t.Memory().Read(ram, data, where);
        ProgramFlash(flash, data, t);
        std::fill(prepared_.begin(), prepared_.end(), false);  // every copy locks the sectors again
        t.Note(Format("lpc_isp: copy %u bytes from RAM %08X to flash %08X", count, ram, flash));
        Answer(t, "C", kSuccess, "", std::chrono::milliseconds(t.Options().LineModelled() ? count / 256 : 0));
        return -1;
    }

    int Erase(uint32_t first, uint32_t last, Target& t) {
        if (!unlocked_) return kCmdLocked;
        if (!Sectors(first, last)) return kInvalidSector;
        bool all = first == 0 && last + 1 == prepared_.size();
        // CRP1 erases sector 0 only together with all others, CRP2 only everything.
        if ((crp_ == 1 && first == 0 && !all) || (crp_ >= 2 && !all)) return kCrpEnabled;
        for (uint32_t s = first; s <= last; ++s)
            if (!prepared_[s]) return kSectorNotPrepared;
        EraseFlash(first, last, t);
        std::fill(prepared_.begin(), prepared_.end(), false);
        t.Note(Format("lpc_isp: erase sectors %u to %u", first, last));
        Answer(t, "E", kSuccess, "", std::chrono::milliseconds(t.Options().EraseMs(part_.EraseMs())));
        return -1;
    }

    // The boot ROM's flash routines, for the ISP commands and the IAP alike.
    void ProgramFlash(uint32_t flash, std::span<const uint8_t> data, Target& t) override {
        // NOR flash: programming only clears bits, whatever was there before.
        std::vector<uint8_t> cells(data.size());
        uint32_t where = 0;
        t.Memory().Read(flash, cells, where);
        for (size_t i = 0; i < cells.size(); ++i)
            cells[i] = stuckBit_.Programmed(flash + static_cast<uint32_t>(i), cells[i], cells[i] & data[i]);
        t.Memory().WriteFlash(flash, cells, where);
    }

    void EraseFlash(uint32_t first, uint32_t last, Target& t) override {
        t.Memory().EraseRange(first, last);
        if (first == 0) crpErased_ = true;  // the protection word is gone from the next reset on
    }

    int BlankCheck(uint32_t first, uint32_t last, Target& t) {
        if (!Sectors(first, last)) return kInvalidSector;
        uint32_t start = SectorStart(first);
        std::vector<uint8_t> cells(SectorEnd(last) - start);
        ReadView(start, cells);
        for (size_t i = 0; i < cells.size(); i += 4) {
            uint32_t word = cells[i] | (uint32_t{cells[i + 1]} << 8) | (uint32_t{cells[i + 2]} << 16) |
                            (uint32_t{cells[i + 3]} << 24);
            if (word == 0xFFFFFFFFu) continue;
            // With code read protection the position and contents are not told.
            uint32_t offset = crp_ ? 0 : static_cast<uint32_t>(i);
            t.Note(Format("lpc_isp: sectors %u to %u: not blank at %08X", first, last, start + static_cast<uint32_t>(i)));
            Answer(t, "I", kSectorNotBlank, Format("%u\r\n%u\r\n", offset, crp_ ? 0 : word));
            return -1;
        }
        return kSuccess;
    }

    int Compare(uint32_t a1, uint32_t a2, uint32_t count, Target& t) {
        if (crp_) return kCrpEnabled;
        if (a1 % 4 || a2 % 4) return kAddrError;
        if (count % 4) return kCountError;
        // Checked before anything is read: the count comes from the host.
        for (uint32_t a : {a1, a2})
            if (count && !InFlash(a, count) && !InRam(a, count)) return kAddrNotMapped;
        std::vector<uint8_t> x(count), y(count);
        ReadView(a1, x);
        ReadView(a2, y);
        for (uint32_t i = 0; i < count; i += 4) {
            if (std::equal(x.begin() + i, x.begin() + i + 4, y.begin() + i)) continue;
            t.Note(Format("lpc_isp: compare %08X with %08X: differs at offset %u", a1, a2, i));
            Answer(t, "M", kCompareError, Format("%u\r\n", i));
            return -1;
        }
        return kSuccess;
    }

    uint32_t FlashWord(uint32_t address) {
        uint8_t b[4] = {0xFF, 0xFF, 0xFF, 0xFF};
        uint32_t where = 0;
        t_->Memory().Read(address, b, where);
        return b[0] | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 24);
    }

    int Go(uint32_t address, bool thumb, Target& t) {
        if (!unlocked_) return kCmdLocked;
        if (crp_) return kCrpEnabled;
        if (part_.Cortex() && !thumb) return kParamError;  // a Cortex-M runs Thumb code only
        if (address % 4) return kAddrError;
        if (!InFlash(address, 4) && !InRam(address, 4)) return kAddrNotMapped;
        Answer(t, "G", kSuccess);
        if (InRam(address, 4) && emulate_ && Emulate(address, thumb, t)) return -1;

        LpcRoutineBlock block;
        uint32_t load = part_.RamUserStart();
        if (InRam(address, 4) && LpcRoutineBlock::Read(t.Memory(), load, address | (thumb ? 1 : 0), block)) {
            routine_ = std::make_unique<LpcRamRoutine>(block, part_, t.Options().LineModelled());
            t.Note(Format("lpc_isp: go to %08X: RAM routine: %s", address, routine_->Describe().c_str()));
            if (!routine_->Baud()) {
                t.Note("lpc_isp: the routine's UART settings give no rate: it does not answer");
                state_ = State::Running;
                return -1;
            }
            t.SwitchLineRate(routine_->Baud());
            state_ = State::Routine;
            return -1;
        }
        std::vector<uint8_t> code(kWatchdogRoutineBytes);
        uint32_t where = 0;
        if (!part_.Cortex() && !thumb && address == kWatchdogRoutine && t.Memory().Read(address, code, where) &&
            std::any_of(code.begin(), code.end(), [](uint8_t b) { return b != 0; })) {
            t.Note("lpc_isp: go to 400002F0: watchdog reset routine: the part resets");
            Reset(t);
            return -1;
        }
        Started(address, t);
        return -1;
    }

    // Runs the code in RAM on the emulated CPU; false (with a note) where it cannot.
    bool Emulate(uint32_t address, bool thumb, Target& t) {
        LpcEmuStart start;
        start.address = address;
        start.thumb = thumb;
        start.crystalKhz = crystalKhz_;
        start.ispRate = t.LineRate() ? t.LineRate() : t.HostRate();
        start.timed = t.Options().LineModelled();
        start.eraseMs = t.Options().EraseMs(part_.EraseMs());
        start.partId = reportId_.value_or(part_.id);
        start.bootVersion = (bootMajor_ << 8) | bootMinor_;
        start.serial = Serial();
        std::string why;
        emulator_ = StartLpcEmulator(part_, start, *this, t, why);
        if (!emulator_) {
            t.Note("lpc_isp: " + why + ": the code is not run");
            return false;
        }
        t.Note(Format("lpc_isp: go to %08X: the code runs on the emulated %s, crystal %u kHz", address,
                      part_.Cortex() ? "Cortex-M3" : (thumb ? "ARM7 in Thumb state" : "ARM7"), crystalKhz_));
        state_ = State::Emulated;
        return true;
    }

    std::array<uint32_t, 4> Serial() const {
        return {part_.id, ~part_.id, 0x00A50000u | part_.number, 0x5EC00000u + part_.number};
    }

    // The code at `address` runs: it speaks no ISP.
    // `jumped`: emulated code jumped there, which starts the user code wherever it lands.
    void Started(uint32_t address, Target& t, bool jumped = false) {
        std::string what = Format(jumped ? "lpc_isp: emu: the code jumps into the flash at %08X: " : "lpc_isp: go to %08X: ",
                                  address);
        if (InFlash(address, 4) && (address == 0 || jumped)) {
            uint32_t sum = 0;
            for (uint32_t i = 0; i < 32; i += 4) sum += FlashWord(i);
            t.Note(what + "user code start, vector checksum " + (sum == 0 ? "valid" : "invalid"));
        } else {
            t.Note(what + (InFlash(address, 4) ? "code in flash runs" : "code in RAM runs"));
        }
        state_ = State::Running;
        if (t.Options().exitAfterExec) t.Exit();
    }

    // A watchdog reset: the boot ROM starts again and, the reset being no external
    // one, ignores the ISP entry pin and starts valid user code; without valid code it
    // enters ISP again (autobaud).
    void Reset(Target& t) {
        uint32_t word = FlashWord(part_.Cortex() ? 0x2FC : 0x1FC);
        if (crpErased_) crp_ = 0;
        for (uint32_t level = 1; level <= 3; ++level)
            if (word == kCrpWords[level]) crp_ = level;
        crpErased_ = false;
        uint32_t sum = 0;
        for (uint32_t i = 0; i < 32; i += 4) sum += FlashWord(i);
        if (InFlash(0, 32) && sum == 0) {
            Started(0, t);
            return;
        }
        t.Note("lpc_isp: no valid user code: ISP, autobaud");
        Restart(t, true);
    }

    const LpcPart& part_;
    std::optional<uint32_t> reportId_;
    std::optional<uint32_t> autobaudRate_;
    uint32_t crp_;
    StuckBit stuckBit_;
    uint32_t bootMajor_ = 0, bootMinor_ = 0;
    bool emulate_;
    uint32_t crystalKhz_ = kDefaultCrystalKhz;
    Target* t_ = nullptr;

    State state_;
    bool echo_ = true;
    bool unlocked_ = false;
    bool rateLocked_ = false;
    bool crPending_ = false;
    bool quietNoted_ = false;
    bool crpErased_ = false;
    std::string line_;
    std::vector<bool> prepared_;

    uint32_t writeAddress_ = 0, writeCount_ = 0, committed_ = 0;
    std::vector<uint8_t> block_;
    size_t blockLines_ = 0;
    uint32_t blockSum_ = 0;
    bool expectChecksum_ = false;

    std::vector<uint8_t> readData_;
    size_t readAt_ = 0, readNext_ = 0;

    std::unique_ptr<LpcRamRoutine> routine_;
    std::unique_ptr<LpcEmulator> emulator_;
};

const ProtocolOption kOptions[] = {
    {"--part", "NAME|ID",
     "the part: LPC1768 (the first entry with that number) or\nits ID, 0x26013F37; flash, RAM and sectors follow\n(default LPC2148)",
     [](ProtocolSettings& s, const std::string& v, std::string& what) {
         what = "an LPC part number or part ID";
         const LpcPart* part = FindLpcPart(v);
         if (part) SettingsOf<LpcIspSettings>(s).part = part;
         return part != nullptr;
     }},
    FlagRow<&LpcIspSettings::commandMode>("--command-mode",
                                          "start synchronised, in command mode, at --baud or the\nhost's first rate"),
    {"--crp", "LEVEL", "code read protection 1, 2 or 3 (3: no ISP at all)",
     [](ProtocolSettings& s, const std::string& v, std::string& what) {
         what = "1, 2 or 3";
         return ParseU32(v, SettingsOf<LpcIspSettings>(s).crp, 3) && SettingsOf<LpcIspSettings>(s).crp > 0;
     }},
    {"--boot-version", "MAJOR.MINOR", "boot code version for 'K' (default 2.12 on ARM7,\n4.1 on Cortex-M)",
     [](ProtocolSettings& s, const std::string& v, std::string& what) {
         what = "two numbers as 2.12";
         size_t dot = v.find('.');
         return dot != std::string::npos && ParseU32(v.substr(0, dot), SettingsOf<LpcIspSettings>(s).bootMajor, 255) &&
                ParseU32(v.substr(dot + 1), SettingsOf<LpcIspSettings>(s).bootMinor, 255);
     }},
    {"--report-id", "ID", "answer 'J' with this part ID instead of the part's own\n(a revision a host may not know)",
     [](ProtocolSettings& s, const std::string& v, std::string& what) {
         what = "a 32-bit part ID, as 0x26013F38";
         uint32_t id = 0;
         if (!ParseU32(v, id)) return false;
         SettingsOf<LpcIspSettings>(s).reportId = id;
         return true;
     }},
    FlagRow<&LpcIspSettings::emulate, false>(
        "--no-emulation",
        "code started in RAM does not run on the emulated CPU: a\nroutine with a parameter block is modelled from it,\nthe watchdog routine resets the part"),
    StuckBitRow<&LpcIspSettings::stuckBit, 0x1000>("this flash bit never programs (stays 1)"),
};

}  // namespace

std::span<const ProtocolOption> LpcIspOptionRows() { return kOptions; }

std::unique_ptr<Protocol> MakeLpcIspTarget(const LpcIspSettings& settings) {
    return std::make_unique<LpcIspTarget>(settings);
}

const ProtocolEntry& LpcIspProtocol() {
    static const ProtocolEntry entry = ProtocolEntryFor<LpcIspSettings, LpcIspTarget>(
        "lpc_isp",
        "an NXP LPC boot ROM in ISP mode: autobaud on '?', text commands\n"
        "with return codes, UU-encoded data; code started in RAM with 'G'\n"
        "runs on an emulated CPU with the part's clocks, UART0, watchdog\n"
        "and IAP",
        "sync synced clock echo checksum invalid U B A W R P C E I J K N M G emu iap.C iap.I iap.W iap.E iap.X",
        nullptr, kOptions);
    return entry;
}
