// GEN_IAP: a resident programming routine in the target that speaks the one-letter
// command set. The programming-enable line (when it is DTR or RTS) is held active
// while connected, so that a target reset lands in the routine again.
#include "drivers/gen_iap.hpp"

#include <algorithm>
#include <cstdlib>

#include "base/messages.hpp"
#include "base/text.hpp"
#include "drivers/descriptors.hpp"
#include "drivers/gen_iap_link.hpp"
#include "drivers/gen_iap_packed.hpp"
#include "drivers/kit/exchange.hpp"
#include "serial/line_control.hpp"
#include "serial/serial_port.hpp"


namespace {
struct GenIapState {
    bool own = false;  // the routine on the line is one Vorlo loaded
    OwnRoutine routine;
};
GenIapState g_gen;  // the routine the run talks to

bool GenIapConnect(ConnectCall&) {
    g_gen.own = false;
    PackedReset();
    MsgPrint(MSG_DEBUG, "gen_iap: Connecting device.");
    ComPurge();
    if (IspRequestGet().requestCount > 0) {
        // The running application is asked to enter its programming routine; with an
        // expected answer, that answer is the whole connect.
        IspOutcome outcome = LinkIspRequest();
        if (outcome != IspOutcome::NoAnswerExpected) return outcome == IspOutcome::Answered;
    }
    if (!IapSynchronise(10, 3)) return false;

    ComPurge();
    MsgPrint(MSG_DEBUG, "Get info");
    SessionOf(g_drvGenIap).blockSize = IapGetBlockSize(
        {"gen_iap: Failed to get nfo.", "gen_iap: Unknown nfo type.", "gen_iap: Align can't be zero."});
    return true;
}

bool GenIapErase(const char* argument) {
    MsgPrint(MSG_DEBUG, "gen_iap: Erase.");
    // The routine only knows a full erase: a list of ranges erases the whole device
    // once per range, and each time the user is told so.
    if (argument) {
        MsgPrint(MSG_WARNING, "gen_iap: No partial erase supported.");
        MsgPrint(MSG_NOTE, "gen_iap: Full erase performed. ");
    }
    if (!IapCommand(kIapErase, 1, 2000)) MsgError("gen_iap: Failed to perform erase.");
    MsgPrint(MSG_DEBUG, "gen_iap: OK");
    return true;
}

bool GenIapWrite(const char*, uint32_t address, const uint8_t* data, uint32_t length) {
    if (g_gen.own && g_gen.routine.packed) return PackedWrite(*g_gen.routine.packed, address, data, length);
    return IapWriteBlock("gen_iap", address, data, length);
}

bool OwnRead(uint32_t address, uint8_t* data, uint32_t length) {
    for (uint32_t at = 0; at < length;) {
        uint16_t n = static_cast<uint16_t>(std::min<uint32_t>(length - at, kIapMaxBlock));
        if (!IapReadFlash(address + at, data + at, n)) return false;
        at += n;
    }
    return true;
}

bool OwnVerify(uint32_t address, const uint8_t* data, uint32_t length, Difference& difference) {
    for (uint32_t at = 0; at < length;) {
        uint16_t n = static_cast<uint16_t>(std::min<uint32_t>(length - at, kIapMaxBlock));
        uint16_t crc = 0;
        if (!IapFlashCrc(address + at, n, crc)) MsgError("gen_iap: CRC of %08X failed.", address + at);
        if (crc != Crc16CcittFalse(0xFFFF, data + at, n)) {
            // Read back only where the CRC differs, to name the address.
            std::vector<uint8_t> target(n);
            if (!OwnRead(address + at, target.data(), n)) MsgError("gen_iap: Reading %08X failed.", address + at);
            if (!SameBytes(address + at, target.data(), data + at, n, difference)) return false;
        }
        at += n;
    }
    return true;
}

// "0-3,7": sector ranges; null: every sector.
bool OwnBlankCheck(const char* sectors, BlankFinding& finding) {
    const MemoryRanges& map = g_gen.routine.sectors;
    std::vector<bool> wanted(map.size(), sectors == nullptr);
    for (const std::string& item : SplitFields(sectors ? sectors : "")) {
        if (!sectors || item.empty()) continue;
        int32_t first = 0, last = 0;
        if (!ParseSectorRange(item, first, last)) MsgError("Unknown blank check option.");
        if (first < 0 || last < first || last >= static_cast<int32_t>(map.size())) MsgError("Incorrect sectors given.");
        for (int32_t s = first; s <= last; ++s) wanted[s] = true;
    }
    for (size_t s = 0; s < map.size(); ++s) {
        if (!wanted[s]) continue;
        const std::vector<uint8_t> erased(kIapMaxBlock, 0xFF);
        for (uint64_t at = map[s].first; at <= map[s].last; at += kIapMaxBlock) {
            uint16_t n = static_cast<uint16_t>(std::min<uint64_t>(kIapMaxBlock, map[s].last - at + 1));
            Difference d{};
            if (!OwnVerify(static_cast<uint32_t>(at), erased.data(), n, d)) {
                uint32_t word = d.address & ~3u;
                uint8_t bytes[4];
                if (!OwnRead(word, bytes, 4)) MsgError("gen_iap: Reading %08X failed.", word);
                finding = {static_cast<int32_t>(s), word,
                           bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24};
                return false;
            }
        }
    }
    return true;
}

bool GenIapRead(uint32_t address, uint8_t* data, uint32_t length) { return OwnRead(address, data, length); }

bool OwnCrc(uint32_t address, uint32_t length, uint16_t& crc) {
    if (length > 0xFFFF) MsgError("gen_iap: CRC of %u bytes asked for: at most 65535.", static_cast<unsigned>(length));
    return IapFlashCrc(address, static_cast<uint16_t>(length), crc);
}

bool OwnEraseSectors(uint32_t first, uint32_t last) {
    if (!g_gen.routine.erasesSectors) {
        MsgExplain("The routine that --compress loads erases single sectors: give --compress before the command that "
                   "connects, or let --update connect (the LPC2132/2134 have no such routine).");
        MsgError("gen_iap: The routine on the part erases only all sectors at once: UPDATE cannot rewrite a sector "
                 "alone.");
    }
    // A request names at most 64 KiB less one byte: a long run goes as several.
    for (uint64_t at = first; at <= last; at += 0x8000) {
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(0x8000, uint64_t{last} - at + 1));
        MsgPrint(MSG_DEBUG, "gen_iap: Erase %X-%X.", static_cast<uint32_t>(at), static_cast<uint32_t>(at + n - 1));
        if (!IapEraseFlash(static_cast<uint32_t>(at), static_cast<uint16_t>(n))) return false;
    }
    return true;
}

std::vector<std::string> GenIapDeviceInfo(const CodeImage*) {
    std::vector<std::string> lines = g_gen.own ? g_gen.routine.info : std::vector<std::string>{};
    lines.push_back("Block size: " + std::to_string(SessionOf(g_drvGenIap).blockSize) + " bytes");
    return lines;
}

bool GenIapExec(const char*) {
    // The protocol carries no start address: the routine decides where to start.
    if (!IapCommand(kIapExec, 1, 20)) MsgError("gen_iap: Failed to perform exec.");
    return true;
}
}  // namespace

const DriverDescriptor g_drvGenIap = {
    .classCode = 0, .blockSize = 256, .lengthMultiple = 16,
    .connect = GenIapConnect, .erase = GenIapErase, .write = GenIapWrite, .exec = GenIapExec,
    .read = GenIapRead,
    .verify = OwnVerify,
    .memory =
        [] {
            const MemoryRanges& s = g_gen.routine.sectors;
            return s.empty() ? MemoryRanges{} : MemoryRanges{{s.front().first, s.back().last}};
        },
    .blankCheck = OwnBlankCheck,
    .deviceInfo = GenIapDeviceInfo,
    .canRead = [] { return g_gen.own; },
    .sectors = [] { return g_gen.routine.sectors; },
    .memoryCrc = OwnCrc,
    .eraseSectors = OwnEraseSectors,
    .connecting = [] { PgmEnLineDtrRtsSet(true); },
    .closing = [] { PgmEnLineDtrRtsSet(false); },
    .connectHint = "The target's programming routine must be running at the connection's rate: --reqisp asks an "
                   "application to start it, --pgmenctrl holds its entry line.",
    .tag = "gen_iap: ",
    .updateHint = "UPDATE compares sectors by the CRC that Vorlo's own LPC routines compute (LPC2000_ISP fast mode); a "
                  "resident routine has no such command.",
};

void GenIapOwnRoutine(const OwnRoutine& routine) {
    g_gen.own = true;
    g_gen.routine = routine;
}
