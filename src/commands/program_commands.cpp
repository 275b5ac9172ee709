// The commands that act on the target through the current driver.
#include "cli/messages.hpp"
#include "commands/handlers.hpp"
#include "commands/settings.hpp"
#include "drivers/driver.hpp"

void CmdWrite(const char*) { MsgError("The WRITE command is not available yet."); }
void CmdErase(const char*) { MsgError("The ERASE command is not available yet."); }
void CmdExec(const char*) { MsgError("The EXEC command is not available yet."); }

void CmdDisconnect(const char*) {
    MsgPrint(MSG_DEBUG, "Disconnecting");
    CurrentDriver().DevCloseInterface(0);
    SetConnected(false);
}
