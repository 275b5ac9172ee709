#include "cli/run_loop.hpp"

#include <csignal>
#include <cstring>
#include <pthread.h>
#include <thread>

#include "cli/command_file.hpp"
#include "cli/exit.hpp"
#include "cli/messages.hpp"
#include "cli/run_flags.hpp"
#include "cli/temp_files.hpp"
#include "cli/version_info.hpp"

namespace {
FILE* g_commandFile = nullptr;
const char* g_argv0 = "";

// Ctrl+C is taken on a thread of its own: the messages and the exit handlers cannot
// run inside a real signal handler.
void StartInterruptThread() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set]() {
        int signal = 0;
        while (sigwait(&set, &signal) != 0) {
        }
        MsgPrint(MSG_NOTE, "Signal %i catched", signal);
        MsgPrint(MSG_ERROR, "Terminated by user.");
    }).detach();
}

void FrameworkExitHandler() {
    if (g_commandFile) {
        FILE* file = g_commandFile;
        g_commandFile = nullptr;
        TmpFileClose(file);
    }
    if (g_daemonChild) MsgPrint(MSG_PLAIN, "End daemon process");
    MsgPrint(MSG_DEBUG, "fcloseall() in %s: missing.", "lib/cmdline");
}

void RunLoop() {
    for (;;) {
        g_busy = true;
        CmdFileRun(g_commandFile);
        g_busy = false;
        g_newCommand = false;
        if (!g_daemonChild || g_kill || g_abort) return;
        // The waiting daemon loop arrives with the command server.
        return;
    }
}
}  // namespace

int VorloMain(int argc, char** argv) {
    g_argv0 = argv[0];
    MsgPrint(MSG_DEBUG, "Starting %s", argv[0]);
    if (argc >= 2 && strncmp(argv[1], "+D", 2) == 0) g_daemonChild = true;
    StartInterruptThread();
    AppAtExit(FrameworkExitHandler);

    if (argc == 1) {
        PrintHelp(false);
        AppExit(64);
    }

    g_commandFile = TmpFileCreate("w+t");
    TranslateArguments(argc, argv, g_daemonChild ? 2 : 1, g_commandFile);

    if (g_daemonRequested && MsgDebug()) g_daemonChild = true;
    else if (g_daemonRequested) MsgError("Daemon mode is not available yet.");
    if (g_daemonChild) MsgError("Daemon mode is not available yet.");

    RunLoop();

    FILE* file = g_commandFile;
    g_commandFile = nullptr;
    TmpFileClose(file);
    MsgPrint(MSG_DEBUG, "End %s %s process", g_argv0, g_daemonChild ? "daemon" : "parent");
    AppExit(0);
}
