// GEN_IAP: a resident programming routine in the target that speaks the one-letter
// command set. The programming-enable line (when it is DTR or RTS) is held active
// while connected, so that a target reset lands in the routine again.
#include "cli/messages.hpp"
#include "drivers/driver.hpp"
#include "drivers/gen_iap_link.hpp"
#include "drivers/kit/exchange.hpp"
#include "serial/line_control.hpp"
#include "serial/serial_port.hpp"

extern const DriverDescriptor g_drvGenIap;

namespace {
bool GenIapConnect(const char*, char*) {
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
    return IapWriteBlock("gen_iap", address, data, length);
}

bool GenIapExec(const char*) {
    // The protocol carries no start address: the routine decides where to start.
    if (!IapCommand(kIapExec, 1, 20)) MsgError("gen_iap: Failed to perform exec.");
    return true;
}
}  // namespace

const DriverDescriptor g_drvGenIap = {
    .classCode = 0,
    .blockSize = 256,
    .lengthMultiple = 16,
    .connect = GenIapConnect,
    .erase = GenIapErase,
    .write = GenIapWrite,
    .exec = GenIapExec,
    .connecting = [] { PgmEnLineDtrRtsSet(true); },
    .closing = [] { PgmEnLineDtrRtsSet(false); },
    .tag = "gen_iap: ",
};
