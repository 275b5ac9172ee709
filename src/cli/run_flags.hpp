// Process-wide run-loop state shared between the command thread, the command server's
// connection threads and the interrupt thread.
#pragma once

#include <atomic>
#include <cstdint>

extern std::atomic<bool> g_daemonChild;      // this process serves commands
extern std::atomic<bool> g_daemonRequested;  // -D / --daemon was given
extern std::atomic<bool> g_busy;             // the command file is being run
extern std::atomic<bool> g_newCommand;       // the server queued a command
extern std::atomic<bool> g_kill;             // end the daemon after the current run
extern std::atomic<bool> g_abort;            // stop the running operation now
extern std::atomic<uint32_t> g_serverBindAddress;  // host byte order; 0 = all interfaces
