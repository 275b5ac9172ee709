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
    int hostWatch = -1;  // inotify: a host opened or closed the slave
    std::string slavePath;
};

// Opens a pty in raw mode, at `rate` when it is not 0. On failure returns false with
// the reason in `error`.
bool PtyOpen(Pty& pty, uint32_t rate, std::string& error);
void PtyClose(Pty& pty);

// What the host has set on its side of the line, read through the master or the held
// slave. The pty driver forces 8 data bits and no parity (it clears CSIZE and PARENB),
// so of the frame only the stop bits are visible.
struct PtyLine {
    uint32_t rate = 0;         // any rate, also those without a B constant; 0: unknown
    bool twoStopBits = false;  // CSTOPB
};
PtyLine PtyReadLine(int fd);
bool PtySetLineRate(int fd, uint32_t rate);
// Bytes the simulator has written that the host has not read yet.
size_t PtyUnreadByHost(const Pty& pty);
// The host's serial layer makes the port exclusive (TIOCEXCL). A real port forgets that
// on its last close, but the held slave keeps this terminal alive, so the flag would
// outlive the host and its next open (after DISCONNECT, or the next run) would fail
// with EBUSY. Called on every wake-up: clears the flag and drains `hostWatch`. Two
// hosts are still kept apart by the lock (flock) the host's serial layer takes.
// Returns whether a host opened the terminal since the last call.
bool PtyAllowReopen(const Pty& pty);
