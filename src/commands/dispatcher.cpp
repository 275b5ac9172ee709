#include "commands/dispatcher.hpp"

#include <cstring>
#include <string>

#include "cli/exit.hpp"
#include "cli/messages.hpp"
#include "cli/text.hpp"
#include "cli/version_info.hpp"
#include "commands/handlers.hpp"
#include "context/run_context.hpp"
#include "drivers/registry.hpp"
#include "serial/serial_port.hpp"

const CommandEntry g_commandTable[] = {
    {"DEVICE", CmdDevice},
    {"IMPORTCODE", CmdImportCode},
    {"EXPORTCODE", CmdExportCode},
    {"LISTCODE", CmdListCode},
    {"WRITE", CmdWrite},
    {"READ", CmdRead},
    {"BLANKCHECK", CmdBlankCheck},
    {"ERASE", CmdErase},
    {"DEVTYPE", CmdDevice},
    {"FORMAT", CmdFormat},
    {"DEVICEINFO", CmdDeviceInfo},
    {"SECKEY", CmdSecKey},
    {"CONNECTION", CmdConnection},
    {"CLOCKFREQ", CmdClockFreq},
    {"CODEINFO", CmdCodeInfo},
    {"TESTFUNC", CmdTestFunc},
    {"DRIVERBIN", CmdDriverBin},
    {"HISTORY", CmdHistory},
    {"BOOTLDR", CmdBootLdr},
    {"EXEC", CmdExec},
    {"RESETTIME", CmdResetTime},
    {"ISPHOLDTIME", CmdIspHoldTime},
    {"GETENTRYADDR", CmdGetEntryAddr},
    {"NOLOCALECHO", CmdAccepted},
    {"COMPACTCODE", CmdCompactCode},
    {"LISTDATA", CmdListData},
    {"USERMODE", CmdAccepted},
    {"EXTMEM", CmdAccepted},
    {"DRIVER", CmdDriver},
    {"DRVLIST", CmdDrvList},
    {"CONTOUT", CmdContOut},
    {"LOOPTEST", CmdLoopTest},
    {"REQISP", CmdReqIsp},
    {"STORECTX", CmdStoreCtx},
    {"RESTORECTX", CmdRestoreCtx},
    {"PORTLIST", CmdPortList},
    {"NOEXEC", CmdAccepted},
    {"SLEEP", CmdSleep},
    {"DISCONNECT", CmdDisconnect},
    {"ECHO", CmdEcho},
    {"EXIT", CmdExit},
    {"RESETCTRL", CmdResetCtrl},
    {"PGMENCTRL", CmdPgmEnCtrl},
    {"CP210XTEST", CmdCp210xTest},
    // Beyond the original table.
    {"VERIFY", CmdVerify},
    {"GANG", CmdGang},
    {"GANGREPORT", CmdGangReport},
    {"GANGTIMEOUT", CmdGangTimeout},
    {"COMPRESS", CmdCompress},
    {nullptr, nullptr},
};

namespace {
// A command line holds at most 255 characters; all of them reach the command, so that a
// long device path (/dev/serial/by-id/...) or file name is never cut.
constexpr size_t kCommandChars = 255;

// Runs on every way out once a command was dispatched: the device is closed and the
// code released before the framework deletes the command file.
void DispatcherExitHandler() {
    MsgPrint(MSG_PLAIN, "%s", "");
    ReleaseProgramCode();
    DevCloseInterface(CurrentDriver(), 0);
    SetConnected(false);
}
}  // namespace

bool CmdDispatch(const char* line) {
    static bool firstUse = true;
    if (firstUse) {
        firstUse = false;
        AppAtExit(DispatcherExitHandler);
        const VersionInfo& v = ProgramVersion();
        MsgPrint(MSG_DEBUG, "Version: %i.%i.%i.%i", v.major, v.minor, v.build, v.revision);
    }
    // The first two characters are the option prefix ("--"); a shorter line names nothing.
    if (strnlen(line, 2) < 2) return false;
    std::string text(line + 2, strnlen(line + 2, kCommandChars));
    size_t equals = text.find('=');
    std::string name = UpperCase(text.substr(0, equals));
    std::string value = equals == std::string::npos ? std::string() : text.substr(equals + 1);

    for (const CommandEntry* entry = g_commandTable; entry->name; ++entry) {
        if (name == entry->name) {
            entry->handler(value.c_str());
            return true;
        }
    }
    return false;
}
