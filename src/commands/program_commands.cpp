// The commands that act on the target through the current driver: connect with its
// countdown, erase, block-wise write with the progress display, start, disconnect.
#include "commands/program_commands.hpp"

#include <cstring>
#include <string>
#include <vector>

#include "cli/exit.hpp"
#include "cli/messages.hpp"
#include "cli/progress.hpp"
#include "cli/run_flags.hpp"
#include "commands/handlers.hpp"
#include "commands/settings.hpp"
#include "drivers/driver.hpp"
#include "serial/serial_port.hpp"
#include "drivers/lpc/code_prep.hpp"
#include "image/code_image.hpp"
#include "platform/process.hpp"

namespace {
char g_replyText[kDriverInfoSize] = "";

// Opens the interface and connects unless a connection stands.
void ConnectStep() {
    if (IsConnected()) return;
    if (!CurrentDriver().DevOpenInterface(ConnectionString())) return;
    if (!DevConnectWait(ConnectKey())) MsgError("Failed to connect.");
    SetConnected(true);
}

[[noreturn]] void TerminateWrite() {
    g_abort = false;
    fputs("\nTerminating write\n", stdout);
    fflush(stdout);
    AppExit(1);
}
}  // namespace

bool DevConnectWait(const char* key) {
    uint32_t start = TickCountMs();
    MsgPrint(MSG_RAW, "\n");
    for (;;) {
        if (CurrentDriver().DevConnect(key, g_replyText)) {
            MsgPrint(MSG_RAW, "\rConnecting .. OK   ");
            if (g_replyText[0]) {
                MsgPrint(MSG_PLAIN, "%s", g_replyText);
                g_replyText[0] = '\0';
            }
            return true;
        }
        uint32_t elapsed = TickCountMs() - start;
        int64_t limit = static_cast<int64_t>(ConnectTimeout()) * 1000;
        int64_t remaining = elapsed < limit ? limit - elapsed : 0;
        MsgPrint(MSG_RAW, "\rConnecting .. %2is      ", static_cast<int>(remaining / 1000));
        if (g_abort || remaining == 0) {
            MsgPrint(MSG_RAW, "\r%28s\r", "");
            return false;
        }
    }
}

void CmdWrite(const char* value) {
    MsgPrint(MSG_DEBUG, "Command: Write.");
    if (!ProgramCodeLoaded()) {
        MsgPrint(MSG_WARNING, "No code to write.");
        return;
    }
    SetCommandArgument(value);
    ConnectStep();

    // Reshape the image into blocks the driver takes: aligned to its block size, holes
    // inside a block filled, no block longer than one block, lengths padded.
    CodeImage& image = ProgramCode();
    const DriverSession& driver = CurrentSession();
    CodeAlignBlocks(image, static_cast<uint32_t>(driver.blockSize), 0xFF);
    CodeSplit(image, static_cast<uint32_t>(driver.blockSize));
    if (driver.lengthMultiple != 0) CodeSetRcordLength(image, static_cast<uint32_t>(driver.lengthMultiple), 0xFF);

    MsgPrint(MSG_PLAIN, "Writing.\n");
    ProgressHook = g_daemonChild ? ProgressDaemonCounters : ProgressBar;
    ProgressHook(PROGRESS_START, image.numBytes);

    if (CurrentDriverNumber() == DRV_LPC2000_ISP || LpcPrepareCodePending()) {
        LpcPrepareCode(image);
        SetLpcPrepareCodePending(false);
    }

    long done = 0;
    for (size_t i = 0; i < image.records.size(); ++i) {
        const CodeRecord record = image.records[i];
        ProgressHook(PROGRESS_UPDATE, done);
        MsgPrint(MSG_DEBUG, "Writing %i bytes to %X", static_cast<int>(record.length), record.address);
        if (!CurrentDriver().DevWrite(record.address, CodeData(image, record), record.length))
            MsgError("Programming failed.");
        if (g_abort) TerminateWrite();
        done += record.length;
    }
    if (!CurrentDriver().DevWrite(0, nullptr, 0)) MsgError("Programming failed.");
    ProgressHook(PROGRESS_FINISH, 0);
    ClearCommandArgument();
}

void CmdErase(const char* value) {
    std::string items(value, strnlen(value, 128));
    ConnectStep();
    MsgPrint(MSG_PLAIN, "Erasing device .. ");

    // Items are separated by commas; empty items between two commas name nothing and
    // are skipped. Without any item the driver erases what it erases by default.
    std::vector<std::string> list;
    for (size_t start = 0; start <= items.size();) {
        size_t comma = items.find(',', start);
        if (comma == std::string::npos) comma = items.size();
        if (comma > start) list.push_back(items.substr(start, comma - start));
        start = comma + 1;
    }
    if (list.empty()) list.emplace_back();

    for (const std::string& item : list) {
        SetCommandArgument(item.c_str());
        if (CurrentDriver().DevErase()) {
            MsgPrint(MSG_RAW, "OK");
        } else {
            MsgPrint(MSG_RAW, "\r%21s", "");
            MsgError("Erase FAILED.");
        }
    }
    ClearCommandArgument();
}

void CmdExec(const char* value) {
    SetCommandArgument(value);
    ConnectStep();
    CurrentDriver().DevUserPgmExec();
    ClearCommandArgument();
}

void CmdDisconnect(const char*) {
    MsgPrint(MSG_DEBUG, "Disconnecting");
    CurrentDriver().DevCloseInterface(0);
    SetConnected(false);
}
