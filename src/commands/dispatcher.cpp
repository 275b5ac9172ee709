#include "commands/dispatcher.hpp"

#include <cstring>
#include <string>

#include "base/exit.hpp"
#include "base/messages.hpp"
#include "base/text.hpp"
#include "base/version_info.hpp"
#include "commands/handlers.hpp"
#include "context/run_context.hpp"
#include "drivers/registry.hpp"
#include "serial/serial_port.hpp"

const CommandEntry g_commandTable[] = {
    {"DEVICE", CmdDevice},
    {"IMPORTCODE", CmdImportCode, WITH_VALUE},
    {"EXPORTCODE", CmdExportCode, WITH_VALUE},
    {"LISTCODE", CmdListCode},
    {"WRITE", CmdWrite},
    {"READ", CmdRead},
    {"BLANKCHECK", CmdBlankCheck},
    {"ERASE", CmdErase},
    {"DEVTYPE", CmdDevice},
    {"FORMAT", CmdFormat, WITH_VALUE},
    {"DEVICEINFO", CmdDeviceInfo},
    {"SECKEY", CmdSecKey, WITH_VALUE},
    {"CONNECTION", CmdConnection, WITH_VALUE},
    {"CLOCKFREQ", CmdClockFreq, WITH_VALUE},
    {"CODEINFO", CmdCodeInfo},
    {"TESTFUNC", CmdTestFunc},
    {"DRIVERBIN", CmdDriverBin, WITH_VALUE},
    {"HISTORY", CmdHistory},
    {"BOOTLDR", CmdBootLdr, WITH_VALUE},
    {"EXEC", CmdExec},
    {"RESETTIME", CmdResetTime, WITH_VALUE},
    {"ISPHOLDTIME", CmdIspHoldTime, WITH_VALUE},
    {"GETENTRYADDR", CmdGetEntryAddr},
    {"NOLOCALECHO", CmdAccepted},
    {"COMPACTCODE", CmdCompactCode},
    {"LISTDATA", CmdListData},
    {"USERMODE", CmdAccepted},
    {"EXTMEM", CmdAccepted},
    {"DRIVER", CmdDriver, WITH_VALUE},
    {"DRVLIST", CmdDrvList},
    {"CONTOUT", CmdContOut, WITH_VALUE},
    {"LOOPTEST", CmdLoopTest},
    {"REQISP", CmdReqIsp, WITH_VALUE},
    {"STORECTX", CmdStoreCtx},
    {"RESTORECTX", CmdRestoreCtx},
    {"PORTLIST", CmdPortList},
    {"NOEXEC", CmdAccepted},
    {"SLEEP", CmdSleep, WITH_VALUE},
    {"DISCONNECT", CmdDisconnect},
    {"ECHO", CmdEcho, WITH_VALUE},
    {"EXIT", CmdExit},
    {"RESETCTRL", CmdResetCtrl, WITH_VALUE},
    {"PGMENCTRL", CmdPgmEnCtrl, WITH_VALUE},
    {"CP210XTEST", CmdCp210xTest},
    // Beyond the original table.
    {"VERIFY", CmdVerify},
    {"GANG", CmdGang, WITH_VALUE},
    {"GANGREPORT", CmdGangReport, WITH_VALUE},
    {"GANGTIMEOUT", CmdGangTimeout, WITH_VALUE},
    {"BSLPASSWORD", CmdBslPassword, WITH_VALUE},
    {"ALLOWLOCK", CmdAllowLock},
    {"COMPRESS", CmdCompress},
    {"UPDATE", CmdUpdate},
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
