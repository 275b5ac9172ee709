#include "base/exit.hpp"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "base/status_report.hpp"

namespace {
struct ExitState {
    std::mutex lock;
    std::vector<ExitHandler> handlers;
    std::atomic<bool> exiting{false};
};
ExitState g_exit;  // the process has one way out
// Per thread: this thread is running the handlers (a handler that ends the run again).
thread_local bool t_inExit = false;
}

void AppAtExit(ExitHandler handler) {
    std::lock_guard<std::mutex> lock(g_exit.lock);
    g_exit.handlers.push_back(handler);
}

void AppExit(int code) {
    // An exit handler that itself ends the run (an ERROR while closing a port, say)
    // lands here again on the same thread: the handlers not yet run still run, so the
    // command file is deleted on that path too, and the later code stands.
    if (!t_inExit && g_exit.exiting.exchange(true)) {
        // Another thread is already running the handlers and will end the process.
        for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
    }
    t_inExit = true;
    for (;;) {
        ExitHandler handler = nullptr;
        {
            std::lock_guard<std::mutex> lock(g_exit.lock);
            if (g_exit.handlers.empty()) break;
            handler = g_exit.handlers.back();
            g_exit.handlers.pop_back();
        }
        handler();
    }
    fflush(nullptr);
    // Last: a supervisor that reads this learns the code the run really ends with.
    StatusReportEnd(code);
    std::_Exit(code);
}
