// GEN_IAP: a resident programming routine in the target that speaks the one-letter
// command set. The programming-enable line (when it is DTR or RTS) is held active
// while connected, so that a target reset lands in the routine again.
#include "cli/messages.hpp"
#include "commands/settings.hpp"
#include "drivers/driver.hpp"
#include "drivers/gen_iap_link.hpp"
#include "platform/process.hpp"
#include "serial/auto_search.hpp"
#include "serial/line_control.hpp"
#include "serial/serial_port.hpp"

namespace {
SerialDriverState g_serial;

bool GenIapOpen(const char* connection);
bool GenIapClose(int);
bool GenIapConnect(const char* key, char* info);
const SerialDriverOps kOps = {GenIapOpen, GenIapConnect, GenIapClose};

bool GenIapOpen(const char* connection) { return SerialDriverOpen(g_serial, connection); }

bool GenIapClose(int) {
    PgmEnLineDtrRtsSet(false);
    SerialDriverClose(g_serial);
    return true;
}

// The application asks the running firmware to enter programming mode: drain what is
// pending, send the request and, when an answer is expected, compare it byte by byte.
// Returns 1 when the expected answer came (connected), 0 on a wrong or missing answer,
// -1 when no answer is expected (go on with the synchronisation).
int SendIspRequest(const IspRequest& isp) {
    ComPurge();
    uint8_t byte = 0;
    while (ComRead(&byte, 1, 20) == 1) {
    }
    ComWrite(isp.request, isp.requestCount);
    SleepMs(50);
    if (isp.responseCount == 0) return -1;
    for (unsigned i = 0; i < isp.responseCount; ++i)
        if (ComRead(&byte, 1, 20) != 1 || byte != isp.response[i]) return 0;
    return 1;
}

bool GenIapConnect(const char* key, char* info) {
    PgmEnLineDtrRtsSet(true);
    bool handled = false;
    bool found = SerialDriverConnectPrologue(g_serial, kOps, key, info, handled);
    if (handled) return found;

    MsgPrint(MSG_DEBUG, "gen_iap: Connecting device.");
    ComPurge();
    const IspRequest& isp = IspRequestGet();
    if (isp.requestCount > 0) {
        int answered = SendIspRequest(isp);
        if (answered >= 0) return answered == 1;
    }
    if (!IapSynchronise(10, 3)) return false;

    ComPurge();
    MsgPrint(MSG_DEBUG, "Get info");
    g_drvGenIap.blockSize = IapGetBlockSize(
        {"gen_iap: Failed to get nfo.", "gen_iap: Unknown nfo type.", "gen_iap: Align can't be zero."});
    return true;
}

bool GenIapDisconnect() { return true; }

bool GenIapRead() { MsgError("gen_iap: Function READ not supported."); }

bool GenIapErase() {
    MsgPrint(MSG_DEBUG, "gen_iap: Erase.");
    // The routine only knows a full erase: a list of ranges erases the whole device
    // once per range, and each time the user is told so.
    if (CmdArgGet()) {
        MsgPrint(MSG_WARNING, "gen_iap: No partial erase supported.");
        MsgPrint(MSG_NOTE, "gen_iap: Full erase performed. ");
    }
    if (!IapCommand(kIapErase, 1, 2000)) MsgError("gen_iap: Failed to perform erase.");
    MsgPrint(MSG_DEBUG, "gen_iap: OK");
    return true;
}

bool GenIapWrite(uint32_t address, const uint8_t* data, uint32_t length) {
    return IapWriteBlock("gen_iap", address, data, length);
}

bool GenIapExec() {
    // The protocol carries no start address: the routine decides where to start.
    if (!IapCommand(kIapExec, 1, 20)) MsgError("gen_iap: Failed to perform exec.");
    return true;
}
}  // namespace

DriverDescriptor g_drvGenIap = {0,           256,         16,          "",           GenIapOpen,
                                GenIapClose, GenIapConnect, GenIapDisconnect, GenIapRead, GenIapErase,
                                GenIapWrite, GenIapExec};
