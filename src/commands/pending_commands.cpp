// Commands whose modules are not built yet. Each group moves into its own module.
#include "cli/messages.hpp"
#include "commands/handlers.hpp"

namespace {
[[noreturn]] void NotAvailable(const char* command) { MsgError("The %s command is not available yet.", command); }
}  // namespace

// Reset and programming-enable line control.
void CmdResetTime(const char*) { NotAvailable("RESETTIME"); }
void CmdIspHoldTime(const char*) { NotAvailable("ISPHOLDTIME"); }
void CmdReqIsp(const char*) { NotAvailable("REQISP"); }
void CmdResetCtrl(const char*) { NotAvailable("RESETCTRL"); }
void CmdPgmEnCtrl(const char*) { NotAvailable("PGMENCTRL"); }
void CmdCp210xTest(const char*) { NotAvailable("CP210XTEST"); }



// Serial port commands.
void CmdLoopTest(const char*) { NotAvailable("LOOPTEST"); }
void CmdPortList(const char*) { NotAvailable("PORTLIST"); }
