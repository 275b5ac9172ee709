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
#include "protocols/lpc_isp.hpp"

#include <memory>

#include "protocols/lpc_isp_target.hpp"
#include "text.hpp"

namespace {

constexpr size_t kMaxLine = 256;
constexpr uint8_t kEscape = 0x1B;
constexpr uint32_t kDefaultCrystalKhz = 12000;  // started in command mode: no crystal line

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
         uint32_t& crp = SettingsOf<LpcIspSettings>(s).crp;
         return ParseU32(v, crp, 3) && crp > 0;
     }},
    {"--boot-version", "MAJOR.MINOR", "boot code version for 'K' (default 2.12 on ARM7,\n4.1 on Cortex-M)",
     [](ProtocolSettings& s, const std::string& v, std::string& what) {
         what = "two numbers as 2.12";
         LpcIspSettings& settings = SettingsOf<LpcIspSettings>(s);
         size_t dot = v.find('.');
         return dot != std::string::npos && ParseU32(v.substr(0, dot), settings.bootMajor, 255) &&
                ParseU32(v.substr(dot + 1), settings.bootMinor, 255);
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

LpcIspTarget::LpcIspTarget(const LpcIspSettings& s)
    : part_(*s.part), flash_(*s.part, s.crp, s.stuckBit), code_(*s.part, flash_, s.emulate), reportId_(s.reportId),
      autobaudRate_(s.autobaudRate), crystalKhz_(kDefaultCrystalKhz) {
    bootMajor_ = s.bootMajor || s.bootMinor ? s.bootMajor : (part_.Cortex() ? 4 : 2);
    bootMinor_ = s.bootMajor || s.bootMinor ? s.bootMinor : (part_.Cortex() ? 1 : 12);
    bool closed = s.crp == 3 && !s.reinvoked;
    state_ = closed ? State::Closed : s.commandMode ? State::Command : State::AutoBaud;
}

void LpcIspTarget::Receive(uint8_t byte, Target& t) {
    switch (state_) {
    case State::Closed:
        NoteOnce(t, "lpc_isp: code read protection 3: the boot ROM does not enter ISP, no answer");
        return;
    case State::Running:
        NoteOnce(t, "lpc_isp: the started code does not speak ISP, no answer");
        return;
    case State::Routine:
    case State::Emulated:
        code_.Receive(byte, t);
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

void LpcIspTarget::EndOfInput(Target& t) {
    if (!crPending_) return;
    crPending_ = false;
    Line(t);
}

SimTime LpcIspTarget::Work(Target& t) {
    if (state_ != State::Emulated) return SimTime::max();
    std::optional<LpcStartedCode::Next> next;
    SimTime when = code_.Work(t, next);
    if (next) Follow(*next, t);
    return when;
}

void LpcIspTarget::NoteOnce(Target& t, const char* text) {
    if (quietNoted_) return;
    quietNoted_ = true;
    t.Note(text);
}

void LpcIspTarget::Echo(uint8_t byte, Target& t) {
    if (echo_) t.Reply("echo", std::span<const uint8_t>(&byte, 1));
}

void LpcIspTarget::Send(Target& t, const std::string& key, const std::string& text, std::chrono::milliseconds delay) {
    t.Reply(key, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()), delay);
}

void LpcIspTarget::Answer(Target& t, const std::string& key, int code, const std::string& more,
                          std::chrono::milliseconds delay) {
    Send(t, key, std::to_string(code) + "\r\n" + more, delay);
}

void LpcIspTarget::Lock(Target& t) {
    rateLocked_ = true;
    if (t.LineRate() == 0) t.SwitchLineRate(t.HostRate());
}

void LpcIspTarget::Autobaud(Target& t) {
    if (RefusedSilently(t, "sync", "lpc_isp: autobaud")) return;
    Lock(t);
    t.Note(Format("lpc_isp: autobaud at %u baud", t.LineRate() ? t.LineRate() : t.HostRate()));
    Send(t, "sync", "Synchronized\r\n");
    state_ = State::SyncLine;
    line_.clear();
}

// Back to autobaud after a failed synchronisation, or after a reset, which with code
// read protection 3 does not enter ISP.
void LpcIspTarget::Restart(Target& t, bool reset) {
    state_ = reset && flash_.Crp() == 3 ? State::Closed : State::AutoBaud;
    echo_ = true;
    unlocked_ = false;
    rateLocked_ = false;
    line_.clear();
    flash_.LockSectors();
    t.SwitchLineRate(autobaudRate_.value_or(t.Options().baud));
}

// Where the boot ROM goes once code it started runs, or ends.
void LpcIspTarget::Follow(LpcStartedCode::Next next, Target& t) {
    switch (next) {
    case LpcStartedCode::Next::Emulated: state_ = State::Emulated; break;
    case LpcStartedCode::Next::Routine: state_ = State::Routine; break;
    case LpcStartedCode::Next::Running: state_ = State::Running; break;
    case LpcStartedCode::Next::Reset: Restart(t, true); break;
    case LpcStartedCode::Next::Reinvoked: Restart(t, false); break;  // ISP called from code: open even with CRP3
    }
}

void LpcIspTarget::Line(Target& t) {
    std::string line;
    line.swap(line_);
    if (line.empty() && state_ != State::WriteData) return;  // extra CR or LF: ignored
    switch (state_) {
    case State::SyncLine:
        if (line != "Synchronized") {
            t.Note("lpc_isp: '" + line + "' instead of Synchronized: autobaud again");
            Restart(t, false);
        } else if (!RefusedSilently(t, "synced", "lpc_isp: Synchronized")) {
            Send(t, "synced", "OK\r\n");
            state_ = State::ClockLine;
        }
        break;
    case State::ClockLine: {
        uint32_t khz = 0;
        if (!ParseIspDecimal(line, khz)) {
            t.Note("lpc_isp: '" + line + "' is no crystal frequency, ignored");
        } else if (!RefusedSilently(t, "clock", "lpc_isp: crystal frequency")) {
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
        "sync synced clock echo checksum invalid U B A W R P C E I J K N M G emu uart0 iap.C iap.I iap.W iap.E iap.X",
        nullptr, kOptions);
    return entry;
}
