// The small setting commands of the command table.
#include <cstdlib>

#include "base/exit.hpp"
#include "base/messages.hpp"
#include "base/version_info.hpp"
#include "commands/handlers.hpp"
#include "context/run_context.hpp"
#include "platform/process.hpp"

void CmdDevice(const char*) { MsgPrint(MSG_PLAIN, "cmdHdlr_devtype(): Function not implemented."); }
void CmdAccepted(const char*) {}
void CmdSecKey(const char* value) { SetConnectKey(value); }
void CmdConnection(const char* value) {
    SetConnectionString(value);
    Run().connectionGiven = true;
}
void CmdClockFreq(const char*) { MsgPrint(MSG_NOTE, "'--clockfreq' option is now obsolete."); }
void CmdHistory(const char*) { PrintHistory(); }
void CmdBootLdr(const char* value) { AppendConnectKey(value); }

void CmdContOut(const char* value) {
    SetConnectTimeout(atoi(value));
    MsgPrint(MSG_DEBUG, "Connect timeout set to %i", ConnectTimeout());
}

void CmdAllowLock(const char*) { Run().allowLock = true; }

void CmdCompress(const char*) {
    Run().compress = true;
    MsgPrint(MSG_DEBUG, "Fast mode sends packed blocks where the routine takes them");
}

void CmdStoreCtx(const char*) { MsgPrint(MSG_PLAIN, "Store contect."); }
void CmdRestoreCtx(const char*) { MsgPrint(MSG_PLAIN, "Restore context."); }

void CmdSleep(const char* value) {
    int ms = atoi(value);
    // A negative time would be a wait of weeks as an unsigned count: refused like 0.
    if (ms <= 0) MsgError("Invalid time for '--sleep'");
    MsgPrint(MSG_DEBUG, "Sleep(%i)", ms);
    SleepMs(static_cast<uint32_t>(ms));
}

void CmdEcho(const char* value) { MsgPrint(MSG_PLAIN, "%s", value); }
void CmdExit(const char*) { AppExit(0); }
