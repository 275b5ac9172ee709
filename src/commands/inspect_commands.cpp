// The commands that look at the target through the current driver: READ its memory
// into the code image, VERIFY it against the image, BLANKCHECK it, and show what it
// tells about itself (DEVICEINFO). Each connects first, as WRITE does.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/messages.hpp"
#include "base/progress.hpp"
#include "base/run_flags.hpp"
#include "base/status_report.hpp"
#include "base/text.hpp"
#include "commands/handlers.hpp"
#include "commands/program_commands.hpp"
#include "context/run_context.hpp"
#include "drivers/registry.hpp"
#include "image/code_image.hpp"

namespace {
// "0-0x7FFF,0x10000-0x1FFFF": ranges with both ends included, decimal or 0x hexadecimal.
MemoryRanges ParseRanges(const std::string& text) {
    MemoryRanges ranges;
    for (const std::string& item : SplitFields(text)) {
        if (item.empty()) continue;
        const char* p = item.c_str();
        char* end = nullptr;
        unsigned long long first = strtoull(p, &end, 0);
        bool good = end != p && *end == '-';
        unsigned long long last = 0;
        if (good) {
            const char* second = end + 1;
            last = strtoull(second, &end, 0);
            good = end != second && *end == '\0' && first <= last && last <= 0xFFFFFFFFull;
        }
        if (!good) MsgError("Unknown read option.");
        ranges.push_back({static_cast<uint32_t>(first), static_cast<uint32_t>(last)});
    }
    return ranges;
}

// The parts of `range` outside every hidden range.
MemoryRanges Without(const MemoryRange& range, const MemoryRanges& hidden) {
    MemoryRanges pieces = {range};
    for (const MemoryRange& h : hidden) {
        MemoryRanges next;
        for (const MemoryRange& p : pieces) {
            if (h.last < p.first || h.first > p.last) {
                next.push_back(p);
                continue;
            }
            if (p.first < h.first) next.push_back({p.first, h.first - 1});
            if (p.last > h.last) next.push_back({h.last + 1, p.last});
        }
        pieces.swap(next);
    }
    return pieces;
}

uint64_t Size(const MemoryRange& r) { return uint64_t{r.last} - r.first + 1; }

// Says once which of the hidden ranges the command leaves out.
void NoteLeftOut(const DriverDescriptor& driver, const MemoryRanges& wanted, const char* what) {
    if (!driver.hidden) return;
    for (const MemoryRange& h : driver.hidden()) {
        for (const MemoryRange& w : wanted) {
            if (h.last < w.first || h.first > w.last) continue;
            MsgPrint(MSG_NOTE, "%s %08X-%08X: %s", what, std::max(h.first, w.first), std::min(h.last, w.last),
                     driver.hiddenReason);
            break;
        }
    }
}

void StartProgress(long total) {
    ProgressInstall(g_flags.daemonChild ? ProgressDaemonCounters : ProgressBar);
    ProgressHook(PROGRESS_START, total);
}

uint32_t ReadBlock(const DriverDescriptor& driver) {
    uint32_t block = driver.readBlock ? driver.readBlock : static_cast<uint32_t>(SessionOf(driver).blockSize);
    return block ? block : 256;
}

uint32_t VerifyBlock(const DriverDescriptor& driver) { return driver.verifyBlock ? driver.verifyBlock : ReadBlock(driver); }
}  // namespace

void CmdRead(const char* value) {
    MsgPrint(MSG_DEBUG, "Command: Read.");
    const MemoryRanges asked = ParseRanges(value);
    ConnectTarget();
    const DriverDescriptor& driver = CurrentDriver();
    RequireReading(driver, "READ");
    const MemoryRanges wanted = asked.empty() && driver.memory ? driver.memory() : asked;
    if (wanted.empty()) MsgError("No memory to read: give the ranges, e.g. --read=0-0x7FFF.");

    MemoryRanges pieces;
    for (const MemoryRange& w : wanted)
        for (const MemoryRange& p : Without(w, driver.hidden ? driver.hidden() : MemoryRanges{})) pieces.push_back(p);
    NoteLeftOut(driver, wanted, "Not read:");
    long total = 0;
    for (const MemoryRange& p : pieces) total += static_cast<long>(Size(p));

    // The image the read replaces may hold the key to the target (the firmware the
    // device was programmed with).
    CodeImage& image = ProgramCode();
    if (driver.startReading) driver.startReading(ProgramCodeLoaded() ? &image : nullptr, false);

    MsgPrint(MSG_PLAIN, "Reading.\n");
    StatusReportPhase("reading");
    StartProgress(total);
    CodeImage read;
    const uint32_t block = ReadBlock(driver);
    std::vector<uint8_t> data(block);
    long done = 0;
    for (const MemoryRange& p : pieces) {
        for (uint64_t at = p.first; at <= p.last;) {
            ProgressHook(PROGRESS_UPDATE, done);
            uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(block - at % block, uint64_t{p.last} - at + 1));
            MsgPrint(MSG_DEBUG, "Reading %i bytes from %X", static_cast<int>(n), static_cast<uint32_t>(at));
            if (!DevRead(driver, static_cast<uint32_t>(at), data.data(), n))
                MsgError("Read failed at %08X.", static_cast<uint32_t>(at));
            CodeAddData(read, static_cast<uint32_t>(at), n, data.data());
            at += n;
            done += n;
        }
    }
    ProgressHook(PROGRESS_FINISH, 0);
    CodeCompact(read);
    read.entryAddress = image.entryAddress;
    read.fromTarget = true;
    image = std::move(read);
    SetProgramCodeLoaded(true);
    MsgPrint(MSG_PLAIN, "Read %li bytes.", total);
}

void CmdVerify(const char* value) {
    if (!ConnectWithCode(value, "Verify", "verify")) return;
    const DriverDescriptor& driver = CurrentDriver();
    RequireReading(driver, "VERIFY");

    // What WRITE would have programmed: the same blocks, the same preparation.
    CodeImage image = ProgramCode();
    ShapeForDriver(image);
    PrepareForDriver(image, false);
    // Compared in runs as long as the driver takes, whatever the blocks WRITE cut.
    CodeCompact(image);
    if (driver.startReading) driver.startReading(&image, true);

    MemoryRanges covered;
    for (const CodeRecord& r : image.records) covered.push_back({r.address, r.address + r.length - 1});
    NoteLeftOut(driver, covered, "Not compared:");
    const MemoryRanges hidden = driver.hidden ? driver.hidden() : MemoryRanges{};

    MsgPrint(MSG_PLAIN, "Verifying.\n");
    StatusReportPhase("verifying");
    StartProgress(image.numBytes);
    const uint32_t block = VerifyBlock(driver);
    long done = 0;
    for (const CodeRecord& r : image.records) {
        const uint8_t* data = CodeData(image, r);
        for (const MemoryRange& p : Without({r.address, r.address + r.length - 1}, hidden)) {
            for (uint64_t at = p.first; at <= p.last;) {
                ProgressHook(PROGRESS_UPDATE, done);
                uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(block - at % block, uint64_t{p.last} - at + 1));
                MsgPrint(MSG_DEBUG, "Verifying %i bytes at %X", static_cast<int>(n), static_cast<uint32_t>(at));
                Difference d{};
                if (!DevVerify(driver, static_cast<uint32_t>(at), data + (at - r.address), n, d)) {
                    ProgressHook(PROGRESS_FINISH, 0);
                    MsgError("Verify failed at %08X: read %02X, expected %02X.", d.address, d.read, d.expected);
                }
                at += n;
                done += n;
            }
        }
    }
    ProgressHook(PROGRESS_FINISH, 0);
    ClearCommandArgument();
    MsgPrint(MSG_PLAIN, "Verify OK.");
}

void CmdBlankCheck(const char* value) {
    MsgPrint(MSG_DEBUG, "Command: Blank check.");
    SetCommandArgument(value);
    ConnectTarget();
    const DriverDescriptor& driver = CurrentDriver();
    if (driver.startReading && driver.blankCheck) driver.startReading(ProgramCodeLoaded() ? &ProgramCode() : nullptr, false);
    BlankFinding found{};
    bool blank = DevBlankCheck(driver, CmdArgGet(), found);
    ClearCommandArgument();
    if (blank) {
        MsgPrint(MSG_PLAIN, "Device is blank.");
        return;
    }
    if (found.sector >= 0)
        MsgError("Device is not blank: sector %d, address %08X holds %08X.", static_cast<int>(found.sector), found.address,
                 found.value);
    MsgError("Device is not blank: address %08X holds %02X.", found.address, found.value);
}

void CmdDeviceInfo(const char*) {
    ConnectTarget();
    const CodeImage* image = ProgramCodeLoaded() ? &ProgramCode() : nullptr;
    for (const std::string& line : DevDeviceInfo(CurrentDriver(), image)) MsgPrint(MSG_PLAIN, "%s", line.c_str());
}
