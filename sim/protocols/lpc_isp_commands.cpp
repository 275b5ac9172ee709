// The LPC boot ROM's command lines: a letter and a fixed number of decimal parameters,
// each command answered with its return code and, for some, lines behind it.
#include <algorithm>
#include <array>
#include <cstring>
#include <sstream>
#include <vector>

#include "protocols/lpc_isp_target.hpp"
#include "text.hpp"

namespace {

constexpr uint32_t kUnlockCode = 23130;
const char kCommandLetters[] = "UBAWRPCEIJKNMG";
const uint32_t kBaudRates[] = {9600, 19200, 38400, 57600, 115200, 230400};

}  // namespace

void LpcIspTarget::Command(const std::string& line, Target& t) {
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
    for (size_t i = 0; ok && i < wanted; ++i) ok = ParseIspDecimal(w[1 + i], a[i]);
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
    case 'P': code = Sent(flash_.Prepare(a[0], a[1], t), key, t); break;
    case 'C': code = unlocked_ ? Sent(flash_.Copy(a[0], a[1], a[2], t), key, t) : kCmdLocked; break;
    case 'E': code = unlocked_ ? Sent(flash_.Erase(a[0], a[1], t), key, t) : kCmdLocked; break;
    case 'I': code = Sent(flash_.BlankCheck(a[0], a[1], t), key, t); break;
    case 'J': code = Sent({kSuccess, std::to_string(reportId_.value_or(part_.id)) + "\r\n"}, key, t); break;
    case 'K': code = Sent({kSuccess, Format("%u\r\n%u\r\n", bootMinor_, bootMajor_)}, key, t); break;
    case 'N': {
        if (!part_.HasSerialNumber()) {
            code = kInvalidCommand;
            break;
        }
        std::array<uint32_t, 4> serial = part_.Serial();
        code = Sent({kSuccess, Format("%u\r\n%u\r\n%u\r\n%u\r\n", serial[0], serial[1], serial[2], serial[3])}, key, t);
        break;
    }
    case 'M': code = Sent(flash_.Compare(a[0], a[1], a[2], t), key, t); break;
    case 'G': code = Go(a[0], w[2][0] == 'T', t); break;
    }
    if (code != kAnswered) {
        if (code != kSuccess) t.Note(Format("lpc_isp: %s: return code %d", line.c_str(), code));
        Answer(t, key, code);
    }
}

// An answer with lines behind its code (which the command noted itself) or a work time
// is sent here; a bare return code is left to Command(), which notes the failures.
int LpcIspTarget::Sent(const LpcAnswer& answer, const std::string& key, Target& t) {
    if (answer.more.empty() && answer.delay == std::chrono::milliseconds::zero()) return answer.code;
    Answer(t, key, answer.code, answer.more, answer.delay);
    return kAnswered;
}

int LpcIspTarget::Unlock(uint32_t code, Target& t) {
    if (code != kUnlockCode) return kInvalidCode;
    unlocked_ = true;
    t.Note("lpc_isp: unlocked");
    return kSuccess;
}

int LpcIspTarget::Baud(uint32_t rate, uint32_t stopBits, Target& t) {
    if (std::find(std::begin(kBaudRates), std::end(kBaudRates), rate) == std::end(kBaudRates)) return kInvalidBaudRate;
    if (stopBits != 1 && stopBits != 2) return kInvalidStopBit;
    t.Note(Format("lpc_isp: rate %u, %u stop bit(s) (the line format stays as it is)", rate, stopBits));
    Answer(t, "B", kSuccess);
    t.SwitchLineRate(rate);  // after the answer, which still goes out at the old rate
    return kAnswered;
}

int LpcIspTarget::WriteRam(uint32_t address, uint32_t count, Target& t) {
    uint32_t crp = flash_.Crp();
    if (crp >= 2) return kCrpEnabled;
    if (address % 4) return kAddrError;
    if (count % 4) return kCountError;
    if (count && !LpcFlashModel::InRam(t.Memory(), address, count)) return kAddrNotMapped;
    // The boot ROM's variables and stack live below the user RAM start.
    if (count && address < part_.RamUserStart()) return crp ? kCrpEnabled : kAddrNotMapped;
    t.Note(Format("lpc_isp: write to RAM %08X, %u bytes", address, count));
    Answer(t, "W", kSuccess);
    if (!count) return kAnswered;
    state_ = State::WriteData;
    writeAddress_ = address;
    upload_.Start(count);
    return kAnswered;
}

void LpcIspTarget::DataLine(const std::string& line, Target& t) {
    if (!upload_.ChecksumDue()) {
        upload_.AddLine(line);
        return;
    }
    bool good = upload_.ChecksumMatches(line);
    uint32_t at = writeAddress_ + upload_.Taken();
    std::string what = Format("lpc_isp: checksum %s for %zu bytes at %08X", line.c_str(), upload_.Block().size(), at);
    if (t.Refuses("checksum")) {
        t.Note(what + ": RESEND (nak fault)");
        good = false;
    } else if (!good) {
        t.Note(what + Format(": the data sum to %u, RESEND", upload_.Sum()));
    }
    if (good) {
        uint32_t where = 0;
        t.Memory().WriteRam(at, upload_.Block(), where);
        upload_.Take();
        Send(t, "checksum", "OK\r\n");
    } else {
        upload_.Discard();
        Send(t, "checksum", "RESEND\r\n");
    }
    if (upload_.Done()) state_ = State::Command;
}

int LpcIspTarget::Read(uint32_t address, uint32_t count, Target& t) {
    if (flash_.Crp()) return kCrpEnabled;
    if (address % 4) return kAddrError;
    if (count % 4) return kCountError;
    if (count && !LpcFlashModel::InFlash(t.Memory(), address, count) && !LpcFlashModel::InRam(t.Memory(), address, count))
        return kAddrNotMapped;
    std::vector<uint8_t> data(count, 0);
    flash_.ReadView(t, address, data);
    t.Note(Format("lpc_isp: read %08X, %u bytes", address, count));
    if (!count) return kSuccess;
    download_.Start(std::move(data));
    state_ = State::ReadWait;
    Send(t, "R", "0\r\n" + download_.Block());
    return kAnswered;
}

void LpcIspTarget::ReadAnswer(const std::string& line, Target& t) {
    if (line == "RESEND") {
        t.Note("lpc_isp: read: the host asks for the lines again");
        Send(t, "R", download_.Block());
        return;
    }
    if (line != "OK") t.Note("lpc_isp: read: '" + line + "' instead of OK or RESEND, read ended");
    bool more = download_.Next();
    if (line == "OK" && more) {
        Send(t, "R", download_.Block());
    } else {
        state_ = State::Command;
    }
}

int LpcIspTarget::Go(uint32_t address, bool thumb, Target& t) {
    if (!unlocked_) return kCmdLocked;
    if (flash_.Crp()) return kCrpEnabled;
    if (part_.Cortex() && !thumb) return kParamError;  // a Cortex-M runs Thumb code only
    if (address % 4) return kAddrError;
    if (!LpcFlashModel::InFlash(t.Memory(), address, 4) && !LpcFlashModel::InRam(t.Memory(), address, 4))
        return kAddrNotMapped;
    Answer(t, "G", kSuccess);
    // What the boot ROM leaves to code that runs on the emulated CPU.
    LpcEmuStart start;
    start.crystalKhz = crystalKhz_;
    start.ispRate = t.LineRate() ? t.LineRate() : t.HostRate();
    start.timed = t.Options().LineModelled();
    start.eraseMs = t.Options().EraseMs(part_.EraseMs());
    start.partId = reportId_.value_or(part_.id);
    start.bootVersion = (bootMajor_ << 8) | bootMinor_;
    start.serial = part_.Serial();
    Follow(code_.Go(address, thumb, start, t), t);
    return kAnswered;
}
