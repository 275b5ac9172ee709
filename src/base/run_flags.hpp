// Process-wide run-loop state shared between the command thread, the command server's
// connection threads and the interrupt thread: each flag is written by one side and
// read by the other, so each is atomic and none needs a lock.
#pragma once

#include <atomic>
#include <cstdint>

struct RunFlags {
    std::atomic<bool> daemonChild{false};          // this process serves commands
    std::atomic<bool> daemonRequested{false};      // -D / --daemon was given
    std::atomic<bool> busy{false};                 // the command file is being run
    std::atomic<bool> newCommand{false};           // the server queued a command
    std::atomic<bool> kill{false};                 // end the daemon after the current run
    std::atomic<bool> abort{false};                // stop the running operation now
    std::atomic<uint32_t> serverBindAddress{0};    // host byte order; 0 = all interfaces
};
extern RunFlags g_flags;
