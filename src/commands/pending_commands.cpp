// Commands whose modules are not built yet. Each group moves into its own module.
#include "cli/messages.hpp"
#include "commands/handlers.hpp"

namespace {
[[noreturn]] void NotAvailable(const char* command) { MsgError("The %s command is not available yet.", command); }
}  // namespace

// Code file commands.
void CmdImportCode(const char*) { NotAvailable("IMPORTCODE"); }
void CmdExportCode(const char*) { NotAvailable("EXPORTCODE"); }
void CmdListCode(const char*) { NotAvailable("LISTCODE"); }
void CmdFormat(const char*) { NotAvailable("FORMAT"); }
void CmdCodeInfo(const char*) { NotAvailable("CODEINFO"); }
void CmdTestFunc(const char*) { NotAvailable("TESTFUNC"); }
void CmdDriverBin(const char*) { NotAvailable("DRIVERBIN"); }
void CmdGetEntryAddr(const char*) { NotAvailable("GETENTRYADDR"); }
void CmdCompactCode(const char*) { NotAvailable("COMPACTCODE"); }
void CmdListData(const char*) { NotAvailable("LISTDATA"); }
void ReleaseProgramCode() {}
