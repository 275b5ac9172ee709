// UPDATE: the image as WRITE would program it, compared sector by sector with the CRC the
// target computes of its own memory; only the sectors that differ are erased and written,
// the others are not touched. A production line that programs the same firmware again
// pays only for the CRC requests.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "base/messages.hpp"
#include "base/progress.hpp"
#include "base/run_flags.hpp"
#include "base/status_report.hpp"
#include "commands/handlers.hpp"
#include "commands/program_commands.hpp"
#include "context/run_context.hpp"
#include "drivers/driver.hpp"
#include "drivers/gen_iap_link.hpp"
#include "drivers/registry.hpp"
#include "image/code_image.hpp"

namespace {
// The bytes one CRC request covers at most: both protocols carry a 16-bit length.
constexpr uint32_t kCrcPiece = 0x8000;

uint32_t Size(const MemoryRange& r) { return r.last - r.first + 1; }

// Every byte of the image must lie in a sector the driver erases: elsewhere there is
// nothing to compare it with after an erase.
void RequireInsideSectors(const CodeImage& image, const MemoryRanges& sectors) {
    for (const CodeRecord& r : image.records) {
        for (uint64_t at = r.address; at < uint64_t{r.address} + r.length;) {
            auto s = std::find_if(sectors.begin(), sectors.end(),
                                  [at](const MemoryRange& m) { return m.first <= at && at <= m.last; });
            if (s == sectors.end())
                MsgError("Update: the image holds %08X, outside the sectors the target erases.", static_cast<uint32_t>(at));
            at = uint64_t{s->last} + 1;
        }
    }
}

// Whether the target's sector differs from what WRITE leaves there: the image's bytes,
// and erased flash (FF) where the image has none.
bool SectorDiffers(const DriverDescriptor& driver, const MemoryRange& sector, const std::vector<uint8_t>& expected) {
    for (uint32_t done = 0; done < expected.size(); done += kCrcPiece) {
        const uint32_t n = std::min<uint32_t>(kCrcPiece, static_cast<uint32_t>(expected.size()) - done);
        uint16_t crc = 0;
        if (!driver.memoryCrc(sector.first + done, n, crc))
            MsgError("%sCRC of %08X failed.", driver.tag, sector.first + done);
        if (crc != Crc16CcittFalse(0xFFFF, expected.data() + done, n)) return true;
    }
    return false;
}
}  // namespace

void CmdUpdate(const char* value) {
    // A connect made for UPDATE loads, in LPC fast mode, the routine that erases sectors.
    Run().updating = true;
    const bool connected = ConnectWithCode(value, "Update", "update");
    Run().updating = false;
    if (!connected) return;
    const DriverDescriptor& driver = CurrentDriver();
    RequireUpdating(driver);
    CheckForDriver(false);

    // What WRITE would program: the same blocks, the same preparation.
    CodeImage image = ProgramCode();
    ShapeForDriver(image);
    PrepareForDriver(image, false);
    const MemoryRanges sectors = driver.sectors();
    RequireInsideSectors(image, sectors);
    if (driver.startUpdating) driver.startUpdating(image);

    StatusReportPhase("comparing");
    std::vector<MemoryRange> changed;
    int touched = 0;
    std::vector<uint8_t> expected;
    for (const MemoryRange& sector : sectors) {
        expected.resize(Size(sector));
        if (CodeCopyOut(image, sector.first, Size(sector), expected.data(), 0xFF) == 0) continue;
        ++touched;
        if (!SectorDiffers(driver, sector, expected)) continue;
        MsgPrint(MSG_DEBUG, "Update: %08X-%08X differs", sector.first, sector.last);
        changed.push_back(sector);
    }

    if (!changed.empty()) {
        CheckForDriver(true);
        StatusReportPhase("erasing");
        // Neighbouring sectors go in one erase.
        for (size_t i = 0; i < changed.size();) {
            size_t j = i;
            while (j + 1 < changed.size() && changed[j + 1].first == changed[j].last + 1) ++j;
            MsgForgetExplanations();
            if (!driver.eraseSectors(changed[i].first, changed[j].last)) {
                MsgExplainFirst("The erase of %08X-%08X failed.", changed[i].first, changed[j].last);
                MsgError("Erase FAILED.");
            }
            i = j + 1;
        }

        // The blocks WRITE would send, cut to the sectors erased, in WRITE's order.
        std::vector<MemoryRange> pieces;
        long total = 0;
        for (const CodeRecord& r : image.records) {
            for (const MemoryRange& s : changed) {
                const uint32_t first = std::max(r.address, s.first);
                const uint32_t last = std::min(r.address + r.length - 1, s.last);
                if (first > last || r.length == 0) continue;
                pieces.push_back({first, last});
                total += Size({first, last});
            }
        }
        MsgPrint(MSG_PLAIN, "Writing.\n");
        StatusReportPhase("writing");
        ProgressInstall(g_flags.daemonChild ? ProgressDaemonCounters : ProgressBar);
        ProgressHook(PROGRESS_START, total);
        long done = 0;
        for (const MemoryRange& p : pieces) {
            ProgressHook(PROGRESS_UPDATE, done);
            std::vector<uint8_t> data(Size(p));
            CodeCopyOut(image, p.first, Size(p), data.data(), 0xFF);
            MsgPrint(MSG_DEBUG, "Writing %i bytes to %X", static_cast<int>(data.size()), p.first);
            MsgForgetExplanations();
            if (!DevWrite(driver, nullptr, p.first, data.data(), Size(p))) {
                MsgExplainFirst("The block at %08X, %i bytes, was not programmed.", p.first, static_cast<int>(Size(p)));
                MsgError("Programming failed.");
            }
            if (g_flags.abort) TerminateWrite();
            done += Size(p);
        }
        MsgForgetExplanations();
        if (!DevWrite(driver, nullptr, 0, nullptr, 0)) MsgError("Programming failed.");
        ProgressHook(PROGRESS_FINISH, 0);
    }
    MsgPrint(MSG_PLAIN, "Update: %d of %d sectors left as they were, %d erased and written.",
             touched - static_cast<int>(changed.size()), touched, static_cast<int>(changed.size()));
    ClearCommandArgument();
}
