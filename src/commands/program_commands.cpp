// The commands that act on the target through the current driver: connect with its
// countdown, erase, block-wise write with the progress display, start, disconnect.
#include "commands/program_commands.hpp"

#include <cstring>
#include <string>
#include <vector>

#include "base/exit.hpp"
#include "base/messages.hpp"
#include "base/progress.hpp"
#include "base/run_flags.hpp"
#include "base/status_report.hpp"
#include "base/text.hpp"
#include "commands/handlers.hpp"
#include "context/run_context.hpp"
#include "drivers/kit/serial_driver.hpp"
#include "drivers/registry.hpp"
#include "image/code_image.hpp"
#include "platform/process.hpp"
#include "serial/auto_search.hpp"
#include "serial/serial_port.hpp"

namespace {
// What the user can act on when the target stayed silent: where it was looked for, and
// what usually keeps such a target from answering.
void ExplainConnectFailure() {
    MsgForgetExplanations();
    const RunContext& run = Run();
    if (run.unknownDriver[0])
        MsgExplain("The driver name '%s' given earlier matched no driver, so %s was used; --drvlist lists them.",
                   run.unknownDriver, CurrentDriverName());
    const std::string connection = ConnectionString();
    if (connection.find("AUTO") != std::string::npos) {
        const std::vector<std::string>& tried = AutoSearch().tried;
        std::string ports;
        for (const std::string& port : tried) ports += (ports.empty() ? "" : ", ") + port;
        if (ports.empty())
            MsgExplain("The search found no port to try (%s).", connection.c_str());
        else
            MsgExplain("Ports tried (%s): %s.", connection.c_str(), ports.c_str());
    } else if (!run.connectionGiven) {
        MsgExplain("No --connection was given: the default %s was tried.", connection.c_str());
    } else {
        MsgExplain("Tried %s.", connection.c_str());
    }
    if (*CurrentDriver().connectHint) MsgExplain("%s", CurrentDriver().connectHint);
}
}  // namespace

void ConnectTarget() {
    if (IsConnected()) return;
    if (!DevOpenInterface(CurrentDriver(), ConnectionString())) return;
    if (!DevConnectWait(ConnectKey())) {
        ExplainConnectFailure();
        MsgError("Failed to connect.");
    }
    SetConnected(true);
}

void ShapeForDriver(CodeImage& image) {
    const DriverSession& driver = CurrentSession();
    CodeAlignBlocks(image, static_cast<uint32_t>(driver.blockSize), 0xFF);
    CodeSplit(image, static_cast<uint32_t>(driver.blockSize));
    if (driver.lengthMultiple != 0) CodeSetRcordLength(image, static_cast<uint32_t>(driver.lengthMultiple), 0xFF);
}

void CheckForDriver(bool writing) {
    if (CodeCheck check = CurrentCodeCheck(); check && ProgramCodeLoaded()) check(ProgramCode(), writing);
}

void PrepareForDriver(CodeImage& image, bool writing) {
    CodePreparation prepare = CurrentDriver().prepareCode ? CurrentDriver().prepareCode : PendingCodePreparation();
    if (!prepare) return;
    prepare(image);
    if (writing) ClearPendingCodePreparation();
}

void TerminateWrite() {
    g_flags.abort = false;
    MsgPrint(MSG_PLAIN, "Terminating write");
    MsgPrint(MSG_RAW, "\n");
    AppExit(1);
}

bool DevConnectWait(const char* key) {
    // A connect that did not succeed may leave its text for the one that does.
    char replyText[kDriverInfoSize] = "";
    // Plain progress: a line per attempt instead of the countdown redrawn in place.
    const bool plain = ProgressPlain();
    if (!plain) MsgPrint(MSG_RAW, "\n");
    const bool connected = ConnectWait([&] { return DevConnect(CurrentDriver(), key, replyText); }, ConnectTimeout(),
                                       [plain](int64_t remainingMs) {
                                           const int seconds = static_cast<int>(remainingMs / 1000);
                                           StatusReportPhase("connecting");
                                           if (plain)
                                               MsgPrint(MSG_PLAIN, "Connecting .. no answer, %is left", seconds);
                                           else
                                               MsgPrint(MSG_RAW, "\rConnecting .. %2is      ", seconds);
                                       });
    if (!connected) {
        if (!plain) MsgPrint(MSG_RAW, "\r%28s\r", "");
        return false;
    }
    if (plain)
        MsgPrint(MSG_PLAIN, "Connecting .. OK");
    else
        MsgPrint(MSG_RAW, "\rConnecting .. OK   ");
    if (replyText[0]) MsgPrint(MSG_PLAIN, "%s", replyText);
    StatusReportConnected(replyText);
    return true;
}

bool ConnectWithCode(const char* value, const char* command, const char* noCode) {
    MsgPrint(MSG_DEBUG, "Command: %s.", command);
    if (!ProgramCodeLoaded()) {
        MsgPrint(MSG_WARNING, "No code to %s.", noCode);
        return false;
    }
    SetCommandArgument(value);
    ConnectTarget();
    return true;
}

void CmdWrite(const char* value) {
    if (!ConnectWithCode(value, "Write", "write")) return;
    CheckForDriver(true);

    CodeImage& image = ProgramCode();
    ShapeForDriver(image);
    MsgPrint(MSG_PLAIN, "Writing.\n");
    StatusReportPhase("writing");
    ProgressInstall(g_flags.daemonChild ? ProgressDaemonCounters : ProgressBar);
    ProgressHook(PROGRESS_START, image.numBytes);
    PrepareForDriver(image, true);

    long done = 0;
    for (size_t i = 0; i < image.records.size(); ++i) {
        const CodeRecord record = image.records[i];
        ProgressHook(PROGRESS_UPDATE, done);
        MsgPrint(MSG_DEBUG, "Writing %i bytes to %X", static_cast<int>(record.length), record.address);
        MsgForgetExplanations();
        if (!DevWrite(CurrentDriver(), CmdArgGet(), record.address, CodeData(image, record), record.length)) {
            MsgExplainFirst("The block at %08X, %i bytes, was not programmed.", record.address,
                            static_cast<int>(record.length));
            MsgError("Programming failed.");
        }
        if (g_flags.abort) TerminateWrite();
        done += record.length;
    }
    MsgForgetExplanations();
    if (!DevWrite(CurrentDriver(), CmdArgGet(), 0, nullptr, 0)) MsgError("Programming failed.");
    ProgressHook(PROGRESS_FINISH, 0);
    ClearCommandArgument();
}

void CmdErase(const char* value) {
    std::string items(value, strnlen(value, 128));
    ConnectTarget();
    CheckForDriver(false);
    MsgPrint(MSG_PLAIN, "Erasing device .. ");
    StatusReportPhase("erasing");

    // Items are separated by commas; empty items between two commas name nothing and
    // are skipped. Without any item the driver erases what it erases by default.
    std::vector<std::string> list;
    for (const std::string& item : SplitFields(items))
        if (!item.empty()) list.push_back(item);
    if (list.empty()) list.emplace_back();

    for (const std::string& item : list) {
        SetCommandArgument(item.c_str());
        MsgForgetExplanations();
        if (DevErase(CurrentDriver(), CmdArgGet())) {
            MsgPrint(MSG_RAW, "OK");
        } else {
            if (!ProgressPlain()) MsgPrint(MSG_RAW, "\r%21s", "");
            if (CmdArgGet()) MsgExplainFirst("The erase of '%s' failed.", CmdArgGet());
            MsgError("Erase FAILED.");
        }
    }
    ClearCommandArgument();
}

void CmdExec(const char* value) {
    SetCommandArgument(value);
    ConnectTarget();
    DevUserPgmExec(CurrentDriver(), CmdArgGet());
    ClearCommandArgument();
}

void CmdDisconnect(const char*) {
    MsgPrint(MSG_DEBUG, "Disconnecting");
    DevCloseInterface(CurrentDriver(), 0);
    SetConnected(false);
}
