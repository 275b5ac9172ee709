#include "frontend/run_loop.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/exit.hpp"
#include "base/messages.hpp"
#include "base/progress.hpp"
#include "base/run_flags.hpp"
#include "base/temp_files.hpp"
#include "base/text.hpp"
#include "base/version_info.hpp"
#include "commands/dispatcher.hpp"
#include "context/run_context.hpp"
#include "drivers/registry.hpp"
#include "frontend/command_file.hpp"
#include "frontend/help_topics.hpp"
#include "net/command_server.hpp"
#include "platform/files.hpp"
#include "platform/process.hpp"
#include "serial/serial_port.hpp"

namespace {
constexpr const char* kDaemonReady = "READY";
constexpr uint32_t kDaemonStartTimeoutMs = 10000;

struct ProcessState {
    FILE* commandFile = nullptr;
    std::thread::id mainThread;
    const char* argv0 = "";
    bool persistent = false;  // a daemon whose failed commands end only themselves
    bool inCommand = false;   // a queued command is running (an ERROR may unwind it)
};
ProcessState g_process;  // the program's own start-up values

// An ERROR on the command thread of a persistent daemon: it ends the command, not the
// daemon.
struct CommandFailed {
    std::string text;
};

void EndCommandOnError(const char* text) {
    if (g_process.inCommand && std::this_thread::get_id() == g_process.mainThread) throw CommandFailed{text};
}

// After a failed command the daemon starts over: the port closed with its lines
// restored, nothing of the command left behind.
void RecoverFromFailedCommand() {
    try {
        DevCloseInterface(CurrentDriver(), 0);
    } catch (const CommandFailed&) {
        // The close failed as well: the port is gone all the same.
    }
    SetConnected(false);
    ClearCommandArgument();
    MsgForgetExplanations();
}

// Ctrl+C is taken on a thread of its own: the messages and the exit handlers cannot
// run inside a real signal handler.
// SIGTERM and SIGHUP (a process manager stopping the run, a closed terminal) end the
// run the same way, so that the command file does not stay behind either.
void Interrupted(int signal) {
    MsgPrint(MSG_NOTE, "Signal %i catched", signal);
    MsgPrint(MSG_ERROR, "Terminated by user.");
}

void FrameworkExitHandler() {
    if (FILE* file = g_process.commandFile) {
        if (std::this_thread::get_id() == g_process.mainThread) {
            g_process.commandFile = nullptr;
            TmpFileClose(file);
        } else {
            // Ctrl+C ends the run on the interrupt thread while the command thread
            // may still be reading the command file: closing the stream under it
            // would crash that thread before the process ends. The file goes from
            // the disk; the stream ends with the process.
            TmpFileDelete(file);
        }
    }
    if (g_flags.daemonChild) MsgPrint(MSG_PLAIN, "End daemon process");
}

// How long a daemon waits for a command before it ends by itself.
uint32_t IdleLimitMs() { return MsgDebug() ? 50000u : 15000u; }

void RunCommandFile() {
    g_flags.busy = true;
    if (g_process.persistent) {
        try {
            g_process.inCommand = true;
            CmdFileRun(g_process.commandFile);
            g_process.inCommand = false;
            CmdServerSetResult(0, "");
        } catch (const CommandFailed& failed) {
            RecoverFromFailedCommand();
            g_process.inCommand = false;
            CmdServerSetResult(70, failed.text.c_str());
        }
    } else {
        CmdFileRun(g_process.commandFile);
        CmdServerSetResult(0, "");
    }
    g_flags.busy = false;
}

// The shared secret of the daemon's clients: --secretfile, else VORLO_SECRET_FILE.
std::string SecretFile() {
    const std::string& given = DaemonOptionsGiven().secretFile;
    if (!given.empty()) return given;
    const char* env = getenv("VORLO_SECRET_FILE");
    return env ? env : "";
}

// The command file holds exactly the one queued command: emptied first, so nothing of
// a longer previous command remains behind it.
void WriteCommandFile(const std::string& command) {
    FILE* file = g_process.commandFile;
    fflush(file);
    rewind(file);
    if (!TruncateFile(file)) MsgError("Can't write the command file (%s).", strerror(errno));
    fprintf(file, "%s\n", command.c_str());
    fflush(file);
}

// Polls the flags every 25 ms. False: the idle time passed without any of them.
bool WaitForCommand() {
    uint32_t start = TickCountMs();
    for (;;) {
        if (g_flags.newCommand || g_flags.kill || g_flags.abort) return true;
        if (TickCountMs() - start >= IdleLimitMs()) return false;
        SleepMs(25);
    }
}

void RunLoop() {
    RunCommandFile();
    if (!g_flags.daemonChild) return;
    for (;;) {
        if (g_flags.abort) return;
        std::string command;
        if (CmdServerTakeCommand(command)) {
            WriteCommandFile(command);
            RunCommandFile();
            continue;
        }
        // KILL: lets the running command and those queued before it finish.
        if (g_flags.kill) return;
        if (!WaitForCommand()) return;
    }
}

// Starts the background copy with "+D" and waits until its command socket listens, so
// that a client may connect as soon as this process goes on. The bind address goes
// with it: a copy started for local clients only must not listen on every interface.
void StartDaemonProcess(const char* argv0) {
    CmdServerPort();  // a bad port value is reported here, where the user sees it
    // So is a secret file that cannot be read; the copy reads it again, by its full path.
    std::string secret = SecretFile();
    if (!secret.empty()) {
        CmdServerReadSecret(secret.c_str());
        if (std::string full = CanonicalPath(secret); !full.empty()) secret = full;
    }
    std::vector<std::string> options = {"+D"};
    if (g_flags.serverBindAddress != 0) options.push_back("--localhostonly");
    if (DaemonOptionsGiven().persistent) options.push_back("--persistent");
    if (!secret.empty()) options.push_back("--secretfile=" + secret);
    std::vector<const char*> args;
    for (const std::string& option : options) args.push_back(option.c_str());
    args.push_back(nullptr);
    std::string report;
    if (!StartDetachedCopy(argv0, args.data(), report, kDaemonStartTimeoutMs)) MsgError("Failed to create daemon process.");
    if (report != kDaemonReady) {
        if (!report.empty()) {
            fprintf(stderr, "\n%s", report.c_str());
            fflush(stderr);
        }
        MsgError("Failed to create daemon process.");
    }
    CmdServerAnnounce();
}

void BecomeDaemon() {
    const std::string secret = SecretFile();
    if (!secret.empty()) CmdServerReadSecret(secret.c_str());
    g_process.persistent = DaemonOptionsGiven().persistent;
    if (g_process.persistent) MsgSetErrorHook(EndCommandOnError);
    CmdServerStart();
    if (MsgDebug()) CmdServerAnnounce();  // a daemon that keeps its console says it itself
    // Without debug the daemon leaves the terminal; with it, it keeps its console.
    if (!MsgDebug()) DetachFromConsole();
    ReportToStarter(kDaemonReady);
}
}  // namespace

int VorloMain(int argc, char** argv) {
    g_process.argv0 = argv[0];
    g_process.mainThread = std::this_thread::get_id();
    // Line controllers that capture every run ask for log-friendly progress once.
    if (const char* progress = getenv("VORLO_PROGRESS"); progress && UpperCase(progress) == "PLAIN") ProgressSetPlain(true);
    // The application's commands and drivers, on the command-line framework.
    const std::string driverHelp = DriverHelpText();
    MsgPrint(MSG_DEBUG, "Starting %s", argv[0]);
    if (argc >= 2 && strncmp(argv[1], "+D", 2) == 0) g_flags.daemonChild = true;
    WatchInterrupts(Interrupted);
    // Output into a pipe whose reader has gone ("vorlo ... | head") must not kill the
    // run halfway through a write and skip the exit handlers: the writes fail instead.
    IgnoreBrokenPipes();
    AppAtExit(FrameworkExitHandler);

    if (argc == 1) {
        PrintHelp(false, driverHelp.c_str());
        AppExit(64);
    }

    g_process.commandFile = TmpFileCreate("w+t");
    TranslateArguments(argc, argv, g_flags.daemonChild ? 2 : 1, g_process.commandFile);

    if (g_flags.daemonRequested && MsgDebug()) g_flags.daemonChild = true;
    // A daemon asked for a daemon would only start a rival for its own port.
    else if (g_flags.daemonRequested && !g_flags.daemonChild) StartDaemonProcess(argv[0]);
    if (g_flags.daemonChild) BecomeDaemon();

    RunLoop();

    if (FILE* file = g_process.commandFile) {
        g_process.commandFile = nullptr;
        TmpFileClose(file);
    }
    MsgPrint(MSG_DEBUG, "End %s %s process", g_process.argv0, g_flags.daemonChild ? "daemon" : "parent");
    AppExit(0);
}
