#include "cli/exit.hpp"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
std::mutex g_handlersLock;
std::vector<ExitHandler> g_handlers;
std::atomic<bool> g_exiting{false};
thread_local bool t_inExit = false;
}

void AppAtExit(ExitHandler handler) {
    std::lock_guard<std::mutex> lock(g_handlersLock);
    g_handlers.push_back(handler);
}

void AppExit(int code) {
    // An exit handler that itself ends the run (an ERROR while closing a port, say)
    // lands here again on the same thread: the handlers not yet run still run, so the
    // command file is deleted on that path too, and the later code stands.
    if (!t_inExit && g_exiting.exchange(true)) {
        // Another thread is already running the handlers and will end the process.
        for (;;) pause();
    }
    t_inExit = true;
    for (;;) {
        ExitHandler handler = nullptr;
        {
            std::lock_guard<std::mutex> lock(g_handlersLock);
            if (g_handlers.empty()) break;
            handler = g_handlers.back();
            g_handlers.pop_back();
        }
        handler();
    }
    fflush(nullptr);
    std::_Exit(code);
}
