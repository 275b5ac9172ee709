// LPC2000_ISP: the serial In-System Programming protocol of the NXP LPC boot ROM. An
// ASCII protocol: autobaud on '?', one command per line, every byte echoed, a numeric
// return code per command, data as UU-encoded lines with a checksum every 20 lines.
// Code goes into RAM and is copied from there into flash a block at a time; in fast
// mode a programming routine goes into RAM instead and takes over at a high rate.
#include <algorithm>
#include <iterator>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/messages.hpp"
#include "base/text.hpp"
#include "drivers/descriptors.hpp"
#include "drivers/driver.hpp"
#include "drivers/gen_iap.hpp"
#include "drivers/kit/exchange.hpp"
#include "drivers/kit/serial_driver.hpp"
#include "drivers/lpc/code_prep.hpp"
#include "drivers/lpc/images/images.hpp"
#include "drivers/lpc/parts.hpp"
#include "drivers/lpc/ram_routines.hpp"
#include "drivers/lpc/uuencode.hpp"
#include "platform/process.hpp"
#include "serial/line_control.hpp"
#include "serial/serial_port.hpp"


namespace {
constexpr uint32_t kShortMs = 200;
constexpr uint32_t kEraseMs = 2000;
constexpr size_t kAnswerMax = 127;      // the boot ROM's answers fit one 128-byte buffer
constexpr int kLinesPerChecksum = 20;
constexpr uint32_t kRamBufferArm7 = 0x40000200;
constexpr uint32_t kRamBufferCortex = 0x10000260;
constexpr uint32_t kWatchdogRoutine = 0x400002F0;
constexpr int kCodeReadProtected = 19;

constexpr int kSectorNotBlank = 8;
constexpr int kCompareError = 10;
constexpr int kReadAttempts = 3;  // a group of read lines asked for again after a bad checksum

struct IspState {
    bool cortex = false;  // stays set for the rest of the run once a Cortex-M part answered
    int lastReturnCode = 0;
    uint32_t partId = 0;
    std::string bootVersion;  // "major.minor" as the last connect read it
};
IspState g_isp;  // the boot ROM the run talks to

std::string Format(const char* format, auto... args) {
    char text[96];
    snprintf(text, sizeof text, format, args...);
    return text;
}

// The answer to `command` is its echo followed by `expected`, and then `moreLines`
// further lines (J, K). Reading ends as soon as that answer is complete, or as soon
// as it can no longer come (another return code has arrived); the time-out only
// matters for a target that stays silent.
bool AnswerComplete(const std::string& command, const std::string& expected, int moreLines, const uint8_t* bytes,
                    size_t count) {
    std::string text(reinterpret_cast<const char*>(bytes), count);
    const std::string want = command + expected;
    size_t same = 0;
    while (same < text.size() && same < want.size() && text[same] == want[same]) ++same;
    if (same < want.size()) {
        // A difference: complete once the line holding the return code has ended.
        return same < text.size() && text.find('\n', command.size()) != std::string::npos;
    }
    if (moreLines == 0) return true;
    int ends = 0;
    for (size_t i = want.size(); i < text.size(); ++i) ends += text[i] == '\n';
    return ends >= moreLines;
}

// Lines of a long answer: the echo, the return code, then the values.
std::vector<std::string> AnswerLines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find_first_of("\r\n", at);
        if (end == std::string::npos) end = text.size();
        if (end > at) lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

// Milliseconds the bytes take on the line.
uint32_t WireTimeMs(size_t bytes) { return static_cast<uint32_t>((bytes * ComCharTimeUs() + 999) / 1000); }

// NXP's names of the boot ROM's return codes.
const char* ReturnCodeName(int code) {
    static const char* const kNames[] = {
        "CMD_SUCCESS",         "INVALID_COMMAND",    "SRC_ADDR_ERROR",  "DST_ADDR_ERROR",
        "SRC_ADDR_NOT_MAPPED", "DST_ADDR_NOT_MAPPED", "COUNT_ERROR",    "INVALID_SECTOR",
        "SECTOR_NOT_BLANK",    "SECTOR_NOT_PREPARED_FOR_WRITE_OPERATION", "COMPARE_ERROR", "BUSY",
        "PARAM_ERROR",         "ADDR_ERROR",         "ADDR_NOT_MAPPED", "CMD_LOCKED",
        "INVALID_CODE",        "INVALID_BAUD_RATE",  "INVALID_STOP_BIT", "CODE_READ_PROTECTION_ENABLED",
    };
    return code >= 0 && code < static_cast<int>(std::size(kNames)) ? kNames[code] : "unknown";
}

// The command as the user may read it: without its line end, cut short.
std::string Shown(const std::string& command) {
    std::string text = command.substr(0, command.find_first_of("\r\n"));
    if (text.size() > 40) text = text.substr(0, 40) + "...";
    return MakePrintable(text.data());
}

void NoteReturnCode(int code) {
    g_isp.lastReturnCode = code;
    if (code == kCodeReadProtected) {
        MsgPrint(MSG_WARNING, "ISP Return Code: Code Read Protection Enabled");
        MsgPrint(MSG_NOTE, "Erase whole chip to clear protection.");
    }
}

bool Exchange(const std::string& command, const std::string& expected, int moreLines = 0, uint32_t timeoutMs = kShortMs,
              std::string* answer = nullptr) {
    LinkRequest(command.data(), command.size());
    // Room for the echo of a whole group of data lines, or for the longest answer.
    std::string buffer(command.size() + kAnswerMax + 1, '\0');
    size_t count = ComReadUntil(buffer.data(), command.size() + kAnswerMax, timeoutMs, [&](const uint8_t* bytes, size_t n) {
        return AnswerComplete(command, expected, moreLines, bytes, n);
    });
    std::string text(buffer.data(), count);
    if (answer) *answer = text;
    buffer.resize(count);
    MsgPrint(MSG_VERBOSE, "Response: '%s'", MakePrintable(buffer.data()));
    if (text.compare(0, command.size() + expected.size(), command + expected) == 0 &&
        text.size() >= command.size() + expected.size())
        return true;

    // The return code is the piece after the echo.
    std::vector<std::string> pieces = AnswerLines(text);
    if (pieces.size() >= 2) {
        int code = atoi(pieces[1].c_str());
        NoteReturnCode(code);
        MsgExplain("The boot ROM answered '%s' with %d (%s).", Shown(command).c_str(), code, ReturnCodeName(code));
    } else {
        MsgExplain(text.empty() ? "The boot ROM did not answer '%s'." : "The boot ROM's answer to '%s' was not understood.",
                   Shown(command).c_str());
    }
    return false;
}

// Loads n bytes into the part's RAM: W, then the UU lines, each echoed, with a
// checksum of the data bytes after every 20 lines and after the last one. The boot
// ROM's RESEND fails the load.
//
// The boot ROM echoes each character as it takes it in, so the lines up to the next
// checksum go out back to back and their echo is checked as a whole: waiting for the
// echo of every line before the next one would leave the line idle for a round trip
// per line.
bool RamWrite(uint32_t address, const uint8_t* data, size_t n) {
    MsgPrint(MSG_DEBUG, "Write %X %i", address, static_cast<int>(n));
    if (!Exchange(Format("W %i %i\r", static_cast<int>(address), static_cast<int>(n)), "0\r\n")) return false;
    int line = 0;
    for (size_t at = 0; at < n;) {
        std::string group;
        long checksum = 0;
        for (int inGroup = 0; inGroup < kLinesPerChecksum && at < n; ++inGroup, ++line) {
            size_t count = n - at < kUuLineBytes ? n - at : kUuLineBytes;
            MsgPrint(MSG_VERBOSE, "Line %i", line);
            group += UuEncodeLine(data + at, count);
            for (size_t i = 0; i < count; ++i) checksum += data[at + i];
            at += count;
        }
        if (!Exchange(group, "", 0, kShortMs + WireTimeMs(group.size()))) return false;
        MsgPrint(MSG_VERBOSE, "Checksum: %ld", checksum);
        if (!Exchange(Format("%ld\r", checksum), "OK\r\n")) return false;
    }
    return true;
}

// Appends the next line of an answer that came in pieces (waits a short while for it).
void LineOf(std::string& answer) {
    char rest[32];
    size_t n = ComReadUntil(rest, sizeof rest, kShortMs,
                            [](const uint8_t* b, size_t count) { return b[count - 1] == '\n'; });
    answer.append(rest, n);
}

// In ISP mode the boot ROM maps its own vectors over the start of the flash: reads and
// compares there see those, not the user's.
uint32_t HiddenBytes() { return g_isp.cortex ? 512 : 64; }

const char* GoCommand() { return g_isp.cortex ? "G 0 T\r" : "G 0 A\r"; }

// Autobaud: '?' until the boot ROM answers "Synchronized", then that word back and the
// crystal frequency. A boot ROM still in command mode from an earlier run echoes the
// '?' instead; an ESC followed by "Synchronized" then gets INVALID_COMMAND, which shows
// it is ready as it is.
bool Synchronise(int32_t crystalKHz) {
    static const char kReply[] = "Synchronized\r\n";
    int echoTries = 30;
    int cycles = 10;
    for (;;) {
        const uint8_t question = '?';
        LinkRequest(&question, 1);
        char answer[15] = {};
        size_t n = ComRead(answer, 14, 30);
        const bool synchronized = n == 14 && memcmp(answer, kReply, 14) == 0;
        MsgPrint(MSG_VERBOSE, "Response: '%s'", MakePrintable(answer));
        bool probe = false;
        if (synchronized) {
            return Exchange("Synchronized\r", "OK\r\n") && Exchange(Format("%i\r", static_cast<int>(crystalKHz)), "OK\r\n");
        } else if (n == 1 && answer[0] == '?') {
            if (echoTries > 0) {
                --echoTries;
                cycles = 9;
                continue;
            }
            probe = true;
        } else if (n != 14) {
            probe = echoTries == 0;
        }
        if (probe) {
            if (Exchange("\x1bSynchronized\r", "1\r\n")) return true;
            echoTries = 0;
        }
        if (--cycles == 0) return false;
    }
}

// The WRITE argument: sector ranges ("0-3,7"). Returns the block length to write (the
// block cut at the end of the range that holds its address), 0 to skip the block.
uint32_t WritableLength(const char* ranges, uint32_t address, uint32_t length) {
    const LpcPart& part = LpcCurrentPart();
    for (const std::string& item : SplitFields(ranges)) {
        int32_t first = 0, last = 0;
        if (!ParseSectorRange(item, first, last)) MsgError("Unknown write option.");
        uint32_t start = LpcSectorStart(part, first), end = LpcSectorEnd(part, last);
        if (start <= address && address <= end) return end - address + 1 < length ? end - address + 1 : length;
    }
    return 0;
}

// Fast mode: the routine goes into RAM, starts, and the line moves to its rate; from
// then on the GEN_IAP driver talks to it. False: the routine does not answer. The
// boot ROM is left behind for good.
enum class FastStart { Unsupported, HandedOver, NoAnswer };
std::vector<std::string> PartFacts();

// The routines that take packed blocks are larger (over 2 KiB, UU-encoded and echoed):
// when the line starts slower, the boot ROM takes them at 230400 baud, the fastest rate
// its set-baud-rate command offers on every LPC part. A boot ROM that refuses the rate
// keeps its own, and the routine goes at that.
constexpr uint32_t kRoutineLoadRate = 230400;
void SpeedUpRoutineLoad(uint32_t routineRate) {
    if (ComBaudRate() >= kRoutineLoadRate || routineRate <= kRoutineLoadRate) return;
    if (!Exchange(Format("B %u 1\r", kRoutineLoadRate), "0\r\n")) {
        MsgPrint(MSG_DEBUG, "The routine goes at %u baud.", ComBaudRate());
        return;
    }
    // The boot ROM changes its rate once the answer is out.
    ComSetBaudRate(kRoutineLoadRate);
}

FastStart StartRamRoutine(int32_t crystalKHz, uint32_t baud, ConnectCall& call) {
    LpcRamRoutine routine;
    // The routine that takes packed blocks also erases single sectors, which UPDATE needs.
    const bool packed = Run().compress || Run().updating;
    if (!LpcConfigureRamRoutine(LpcCurrentPart(), crystalKHz, baud, routine, packed)) {
        MsgPrint(MSG_WARNING,
                 "Use of external drive to enable faster programming requested but not supported by the current device.");
        MsgPrint(MSG_NOTE, "Falling back to using internal bootloader only.");
        MsgPrint(MSG_RAW, "\n\n");
        return FastStart::Unsupported;
    }
    if (Run().compress && !routine.packed)
        MsgPrint(MSG_NOTE, "The LPC%d's routine takes no packed blocks: they go as they are.",
                 static_cast<int>(LpcCurrentPart().number));
    MsgPrint(MSG_DEBUG, "Loading driver.");
    if (routine.packed) SpeedUpRoutineLoad(baud);
    if (!RamWrite(routine.loadAddress, routine.image.data(), routine.image.size())) MsgError("Driver loading failed.");
    MsgPrint(MSG_DEBUG, "Starting program %i.", static_cast<int>(routine.entryAddress));
    std::string go = routine.thumb ? Format("G %i T\r", static_cast<int>(routine.entryAddress & ~1u))
                                   : Format("G %i A\r", static_cast<int>(routine.entryAddress));
    if (!Exchange(go, "0")) MsgError("Failed to start driver.");
    // The packed-block routine is at its rate within a millisecond (the boot ROM's answer
    // out, the PLL locked); a late start costs one more synchronisation attempt.
    SleepMs(routine.packed ? 10 : 100);
    // Only the rate changes: a board whose reset hangs on DTR or RTS must not reset the
    // routine that has just started.
    const uint32_t bootRomRate = ComBaudRate();
    ComSetBaudRate(baud);
    uint8_t drain[50];
    ComRead(drain, sizeof drain, 5);
    ConnectCall routineCall;
    routineCall.key = "10000";
    if (SerialDriverConnect(g_drvGenIap, routineCall)) {
        // The routine is ours: it reads the part's flash and its CRC as well.
        OwnRoutine own;
        const LpcPart& part = LpcCurrentPart();
        for (int32_t n = 0; n < part.sectors; ++n) own.sectors.push_back({LpcSectorStart(part, n), LpcSectorEnd(part, n)});
        own.info = PartFacts();
        if (routine.packed) own.packed = PackedLink{routine.ringSize, routine.window};
        own.erasesSectors = routine.packed;
        GenIapOwnRoutine(own);
        call.handOvers.push_back({&g_drvGenIap, call.options});
        return FastStart::HandedOver;
    }
    // The next connect starts over with the boot ROM, at its rate.
    ComSetBaudRate(bootRomRate);
    return FastStart::NoAnswer;
}

bool IspConnect(ConnectCall& call) {
    char* info = call.info;
    // Options: crystal frequency in kHz, then an optional baud rate for fast mode.
    const std::vector<std::string> options = SplitFields(call.options);
    int32_t crystalKHz = atoi(options[0].c_str());
    uint32_t fastBaud = options.size() < 2 ? 0 : static_cast<uint32_t>(strtoul(options[1].c_str(), nullptr, 10));
    if (crystalKHz == 0) MsgError("Crystall freq not specified..");

    LinesEnterBootloader();
    MsgPrint(MSG_DEBUG, "Connecting device.");
    if (!Synchronise(crystalKHz)) return false;
    if (!Exchange("U 23130\r", "0\r\n")) return false;

    std::string answer;
    if (!Exchange("J\r", "0\r\n", 1, kShortMs, &answer)) return false;
    std::vector<std::string> lines = AnswerLines(answer);
    uint32_t id = lines.size() >= 3 ? static_cast<uint32_t>(strtoul(lines[2].c_str(), nullptr, 10)) : 0;
    const LpcPart* part = LpcIdentify(id);
    g_isp.partId = id;
    if (!part) MsgError("Unsupported device: ID=0x%X", id);
    LpcSetCurrentPart(*part);
    DriverSession& session = SessionOf(g_drvLpc2000Isp);
    session.blockSize = session.lengthMultiple = part->copySize;
    if (LpcIsCortex(*part)) g_isp.cortex = true;
    if (info) snprintf(info, kDriverInfoSize, "LPC%d, %d kiB ROM / %d kiB SRAM\n", part->number, part->flashKiB, part->ramKiB);
    MsgPrint(MSG_DEBUG, "Device type: LPC%d", part->number);

    if (!Exchange("K\r", "0\r\n", 2, kShortMs, &answer)) return false;
    lines = AnswerLines(answer);
    // The boot ROM sends the minor number first.
    g_isp.bootVersion = lines.size() >= 4 ? lines[3] + "." + lines[2] : "";
    if (info && lines.size() >= 4) {
        size_t used = strlen(info);
        snprintf(info + used, kDriverInfoSize - used, "Bootcode version: %s", g_isp.bootVersion.c_str());
    }

    if (fastBaud != 0) {
        switch (StartRamRoutine(crystalKHz, fastBaud, call)) {
        case FastStart::HandedOver: return true;
        case FastStart::NoAnswer: return false;
        case FastStart::Unsupported: break;
        }
    }
    return true;
}

bool IspErase(const char* item) {
    const LpcPart& part = LpcCurrentPart();
    int32_t first = 0, last = part.sectors - 1;
    if (item)
        if (!ParseSectorRange(item, first, last)) MsgError("Unknown erase option.");
    if (last < first || last > part.sectors - 1) MsgError("Incorrect sectors given.");
    if (!Exchange(Format("P %i %i\r", first, last), "0\r\n")) return false;
    if (!Exchange(Format("E %i %i\r", first, last), "0\r\n", 0, kEraseMs)) return false;
    if (first == last)
        MsgPrint(MSG_PLAIN, "Erase sector: %i ", first);
    else
        MsgPrint(MSG_PLAIN, "Erase sectors: %i-%i ", first, last);
    return true;
}

bool IspWrite(const char* ranges, uint32_t address, const uint8_t* data, uint32_t length) {
    if (length == 0) return true;
    if (ranges) {
        uint32_t writable = WritableLength(ranges, address, length);
        if (writable == 0) {
            MsgPrint(MSG_WARNING, "Skipping block: %.8X-%.8X", address, address + length - 1);
            MsgPrint(MSG_RAW, "\n");
            return true;
        }
        length = writable;
    }
    const LpcPart& part = LpcCurrentPart();
    const uint32_t ram = g_isp.cortex ? kRamBufferCortex : kRamBufferArm7;
    if (!RamWrite(ram, data, length)) return false;
    MsgPrint(MSG_DEBUG, "Prepare sectors %i-%i", 0, part.sectors - 1);
    if (!Exchange(Format("P %i %i\r", 0, part.sectors - 1), "0\r\n")) return false;
    if (!Exchange(Format("C %ld %ld %ld\r", static_cast<long>(address), static_cast<long>(ram), static_cast<long>(length)),
                  "0\r\n"))
        return false;

    // In ISP mode the boot ROM maps its own vectors over the start of flash, so a
    // compare there would see those: it starts behind them.
    const uint32_t hidden = HiddenBytes();
    uint32_t flash = address, buffer = ram, count = length;
    if (flash < hidden) {
        uint32_t skip = hidden - flash;
        if (skip >= count) return true;
        flash += skip;
        buffer += skip;
        count -= skip;
    }
    std::string answer;
    if (Exchange(Format("M %ld %ld %ld\r", static_cast<long>(flash), static_cast<long>(buffer), static_cast<long>(count)),
                 "0\r\n", 0, kShortMs, &answer))
        return true;
    if (g_isp.lastReturnCode == kCompareError) {
        // COMPARE_ERROR is followed by the offset of the first word that differs.
        std::vector<std::string> pieces = AnswerLines(answer);
        if (pieces.size() < 3) {
            LineOf(answer);
            pieces = AnswerLines(answer);
        }
        if (pieces.size() >= 3)
            MsgExplain("The flash differs from what was copied at %08X: it was not erased there, or a bit does not program.",
                       flash + static_cast<uint32_t>(strtoul(pieces[2].c_str(), nullptr, 10)));
    }
    return false;
}

bool IspExec(const char* argument) {
    MsgPrint(MSG_DEBUG, "Starting program.");
    if (ResetGpioInstalled() || ResetLineIsDtrRts()) {
        // A reset pulse with the ISP line released: the part starts its own code from
        // reset, with the peripherals as the code expects them.
        void (*setReset)(bool) = ResetGpioInstalled() ? ResetGpioSet : ResetLineSet;
        setReset(true);
        Exchange(GoCommand(), "0\r\n");
        SleepMs(50);
        setReset(false);
        return true;
    }
    if (argument) {
        std::string text = UpperCase(std::string(argument).substr(0, 31));
        if (text != "WDTRES") MsgError("Unknown exec option.");
        // The part resets itself through its watchdog, which also resets the peripherals
        // the boot ROM set up, before the code starts.
        if (RamWrite(kWatchdogRoutine, kLpcWatchdogReset, sizeof kLpcWatchdogReset) &&
            Exchange("G 1073742576 A\r\n", "0")) {
            MsgPrint(MSG_DEBUG, "WdtReset OK");
            return true;
        }
        MsgPrint(MSG_WARNING,
                 "Failed to perform reset with WDT. To exec loaded code you may need to perform manual reset.");
        MsgError("Exec failed.");
    }
    Exchange(GoCommand(), "0\r\n");
    return true;
}

// One group of a read: up to 20 UU lines and the line with their checksum, behind
// `prefix` (the echo of what the host sent and, for the command, its return code).
enum class Group { Good, Damaged, Refused };
Group ReadGroup(const std::string& prefix, size_t bytes, std::vector<uint8_t>& out) {
    const size_t lines = (bytes + kUuLineBytes - 1) / kUuLineBytes;
    const size_t capacity = prefix.size() + lines * 64 + 32;
    std::string buffer(capacity, '\0');
    auto complete = [&](const uint8_t* b, size_t n) {
        std::string text(reinterpret_cast<const char*>(b), n);
        size_t same = 0;
        while (same < n && same < prefix.size() && text[same] == prefix[same]) ++same;
        if (same < prefix.size())  // another answer: complete with its return code line
            return same < n && text.find('\n', same) != std::string::npos;
        size_t ends = 0;
        for (size_t i = prefix.size(); i < n; ++i) ends += text[i] == '\n';
        return ends >= lines + 1;
    };
    const uint32_t timeout = kShortMs + WireTimeMs(capacity);
    size_t n = ComReadUntil(buffer.data(), capacity, timeout, complete);
    std::string text = buffer.substr(0, n);
    if (text.compare(0, prefix.size(), prefix) != 0) {
        // The read command refused (code read protection, say): its return code.
        std::vector<std::string> pieces = AnswerLines(text);
        if (prefix.rfind("R ", 0) == 0 && pieces.size() >= 2 && pieces[1] != "0") {
            NoteReturnCode(atoi(pieces[1].c_str()));
            return Group::Refused;
        }
        std::string expected = prefix;
        MsgPrint(MSG_VERBOSE, "Read: the answer does not begin with '%s'", MakePrintable(expected.data()));
        return Group::Damaged;
    }
    std::vector<std::string> body = AnswerLines(text.substr(prefix.size()));
    if (body.size() != lines + 1) return Group::Damaged;
    std::vector<uint8_t> data;
    for (size_t i = 0; i < lines; ++i)
        if (!UuDecodeLine(body[i], data)) return Group::Damaged;
    unsigned long sum = 0;
    for (uint8_t b : data) sum += b;
    char* end = nullptr;
    unsigned long said = strtoul(body[lines].c_str(), &end, 10);
    if (data.size() != bytes || *end != '\0' || said != sum) {
        MsgPrint(MSG_DEBUG, "Read: %zu bytes summing to %lu, the target says %s", data.size(), sum, body[lines].c_str());
        return Group::Damaged;
    }
    out.insert(out.end(), data.begin(), data.end());
    return Group::Good;
}

// R: the boot ROM sends the memory as UU lines, a checksum after every 20; the host
// answers OK, or RESEND for the same lines again. Every byte the host sends is echoed.
bool IspRead(uint32_t address, uint8_t* data, uint32_t length) {
    if (length == 0) return true;
    const uint32_t start = address & ~3u;
    const uint32_t count = (address - start + length + 3) & ~3u;
    const std::string command = Format("R %u %u\r", static_cast<unsigned>(start), static_cast<unsigned>(count));
    LinkRequest(command.data(), command.size());
    std::string prefix = command + "0\r\n";
    std::vector<uint8_t> bytes;
    for (size_t at = 0; at < count;) {
        const size_t group = std::min<size_t>(kLinesPerChecksum * kUuLineBytes, count - at);
        for (int attempt = 1;; ++attempt) {
            Group got = ReadGroup(prefix, group, bytes);
            if (got == Group::Good) break;
            if (got == Group::Refused) {
                if (g_isp.lastReturnCode == kCodeReadProtected) MsgError("Read refused: Code Read Protection Enabled.");
                return false;
            }
            if (attempt == kReadAttempts) return false;
            MsgPrint(MSG_DEBUG, "Read %X: lines damaged, RESEND (%i)", static_cast<unsigned>(start + at), attempt);
            static const char kResend[] = "RESEND\r\n";
            LinkRequest(kResend, sizeof kResend - 1);
            prefix = kResend;
        }
        static const char kOk[] = "OK\r\n";
        LinkRequest(kOk, sizeof kOk - 1);
        prefix = kOk;
        at += group;
    }
    // The echo of the last OK belongs to this read, not to the next answer.
    char echo[4];
    ComRead(echo, sizeof echo, kShortMs);
    memcpy(data, bytes.data() + (address - start), length);
    return true;
}

MemoryRanges IspMemory() {
    const LpcPart& part = LpcCurrentPart();
    if (part.sectors <= 0) return {};
    return {{0, LpcSectorEnd(part, part.sectors - 1)}};
}

MemoryRanges IspHidden() { return {{0, HiddenBytes() - 1}}; }

// I first last: 0 when blank, else 8 with the offset of the first programmed word from
// the first sector's start and its contents.
bool SectorsBlank(int32_t first, int32_t last, BlankFinding& finding) {
    const std::string command = Format("I %i %i\r", first, last);
    LinkRequest(command.data(), command.size());
    std::string buffer(command.size() + kAnswerMax + 1, '\0');
    auto complete = [&](const uint8_t* b, size_t n) {
        std::vector<std::string> pieces = AnswerLines(std::string(reinterpret_cast<const char*>(b), n));
        if (pieces.size() < 2 || b[n - 1] != '\n') return false;
        return atoi(pieces[1].c_str()) != kSectorNotBlank || pieces.size() >= 4;
    };
    size_t n = ComReadUntil(buffer.data(), command.size() + kAnswerMax, kEraseMs, complete);
    std::vector<std::string> pieces = AnswerLines(buffer.substr(0, n));
    if (pieces.size() < 2 || pieces[0] + "\r" != command) MsgError("Blank check: no answer from the boot ROM.");
    int code = atoi(pieces[1].c_str());
    if (code == 0) return true;
    if (code != kSectorNotBlank || pieces.size() < 4) {
        NoteReturnCode(code);
        MsgError("Blank check of sectors %i-%i refused (return code %i).", first, last, code);
    }
    const uint32_t address = LpcSectorStart(LpcCurrentPart(), first) + static_cast<uint32_t>(strtoul(pieces[2].c_str(), nullptr, 10));
    int32_t sector = first;
    while (sector < last && address > LpcSectorEnd(LpcCurrentPart(), sector)) ++sector;
    finding = {sector, address, static_cast<uint32_t>(strtoul(pieces[3].c_str(), nullptr, 10))};
    return false;
}

// Sector 0 as the boot ROM sees it in ISP mode: its own vectors cover the start, so
// the blank check finds them on an erased part. The rest is read and looked at.
bool SectorZeroBlank(BlankFinding& finding) {
    if (SectorsBlank(0, 0, finding)) return true;
    const uint32_t hidden = HiddenBytes();
    if (finding.address >= hidden) return false;
    const uint32_t end = LpcSectorEnd(LpcCurrentPart(), 0);
    std::vector<uint8_t> rest(end - hidden + 1);
    const uint32_t block = static_cast<uint32_t>(SessionOf(g_drvLpc2000Isp).blockSize);
    for (uint32_t at = 0; at < rest.size(); at += block)
        if (!IspRead(hidden + at, rest.data() + at, std::min<uint32_t>(block, static_cast<uint32_t>(rest.size()) - at)))
            MsgError("Blank check: reading sector 0 failed.");
    for (uint32_t i = 0; i < rest.size(); i += 4) {
        uint32_t word = rest[i] | rest[i + 1] << 8 | rest[i + 2] << 16 | static_cast<uint32_t>(rest[i + 3]) << 24;
        if (word != 0xFFFFFFFF) {
            finding = {0, hidden + i, word};
            return false;
        }
    }
    return true;
}

bool IspBlankCheck(const char* sectors, BlankFinding& finding) {
    const LpcPart& part = LpcCurrentPart();
    std::vector<std::pair<int32_t, int32_t>> ranges;
    if (!sectors) ranges.push_back({0, part.sectors - 1});
    for (const std::string& item : SplitFields(sectors ? sectors : "")) {
        if (!sectors || item.empty()) continue;
        int32_t first = 0, last = 0;
        if (!ParseSectorRange(item, first, last)) MsgError("Unknown blank check option.");
        if (last < first || last > part.sectors - 1) MsgError("Incorrect sectors given.");
        ranges.push_back({first, last});
    }
    for (auto [first, last] : ranges) {
        if (first == 0) {
            if (!SectorZeroBlank(finding)) return false;
            if (++first > last) continue;
        }
        if (!SectorsBlank(first, last, finding)) return false;
    }
    return true;
}

// What the boot ROM told at the connect.
std::vector<std::string> PartFacts() {
    const LpcPart& part = LpcCurrentPart();
    return {
        Format("Part: LPC%d", static_cast<int>(part.number)),
        Format("Part ID: 0x%08X", static_cast<unsigned>(g_isp.partId)),
        Format("Flash: %d kiB in %d sectors", static_cast<int>(part.flashKiB), static_cast<int>(part.sectors)),
        Format("RAM: %d kiB", static_cast<int>(part.ramKiB)),
        "Boot code version: " + g_isp.bootVersion,
    };
}

std::vector<std::string> IspDeviceInfo(const CodeImage*) {
    std::vector<std::string> lines = PartFacts();
    // N: the serial number, four words, on the parts that have one.
    std::string answer;
    if (Exchange("N\r", "0\r\n", 4, kShortMs, &answer)) {
        std::vector<std::string> words = AnswerLines(answer);
        if (words.size() >= 6) {
            std::string serial = "Serial number:";
            for (size_t i = 2; i < 6; ++i)
                serial += Format(" %08X", static_cast<unsigned>(strtoul(words[i].c_str(), nullptr, 10)));
            lines.push_back(serial);
        }
    }
    return lines;
}
}  // namespace

const DriverDescriptor g_drvLpc2000Isp = {
    .classCode = 1, .blockSize = 256, .lengthMultiple = 16,
    .connect = IspConnect, .erase = IspErase, .write = IspWrite, .exec = IspExec,
    .read = IspRead,
    .memory = IspMemory,
    .hidden = IspHidden,
    .hiddenReason = "the boot ROM maps its own vectors there",
    .blankCheck = IspBlankCheck,
    .deviceInfo = IspDeviceInfo,
    .closing = [] {
        if (ComIsOpen()) LinesRelease();
    },
    .connectHint = "The part must be in its boot ROM: reset it into ISP by hand or with --resetctrl and --pgmenctrl, "
                   "and give its crystal in kHz (--driver=LPC2000_ISP,12000).",
    .prepareCode = LpcPrepareCode,
    .checkCode = LpcCheckCode,
    .updateHint = "UPDATE compares each sector by a CRC the target computes, and the boot ROM has no such command: "
                  "fast mode's routine has (a baud rate after the crystal, --driver=LPC2000_ISP,12000,921600).",
};
