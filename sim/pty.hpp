// The pseudo-terminal the host program talks to. termios settings made by the host on
// the slave side are visible through the master, which is how the simulator learns the
// host's baud rate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct Pty {
    int master = -1;
    int slaveHold = -1;  // kept open so the master never sees a hang-up between host runs
    std::string slavePath;
};

// Opens a pty in raw mode, at `rate` when it is not 0. On failure returns false with
// the reason in `error`.
bool PtyOpen(Pty& pty, uint32_t rate, std::string& error);
void PtyClose(Pty& pty);

// The slave's baud rate (any rate, also those without a B constant); 0 when unknown.
uint32_t PtyLineRate(int fd);
bool PtySetLineRate(int fd, uint32_t rate);
// Bytes the simulator has written that the host has not read yet.
size_t PtyUnreadByHost(const Pty& pty);
