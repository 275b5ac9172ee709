// The host system's serial device operations under the serial port layer: device
// naming, exclusive open, line parameters, timed reads, modem lines and restore.
#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace serialdev {

// Device path of a port name: a name with "/" is a path as it stands; "COMn" (any
// letter case, n >= 1) is /dev/ttyS(n-1); any other name is looked up under /dev/.
std::string DevicePath(const char* portName);

// Opens the device for reading and writing, not as controlling terminal, exclusively
// (TIOCEXCL and a non-blocking flock), and switches it to raw mode keeping its rate
// and character format. Saves the settings and modem lines it had, for Restore.
// Returns the descriptor, or -1 with errno set.
int Open(const std::string& path);

// Whether Open would succeed; the device is closed again at once.
bool Probe(const std::string& path);

// Line parameters with the layer's codes: data bits 4..8, parity 0 none, 1 odd,
// 2 even, 3 mark, 4 space, stop bits 0 one, 1 one and a half, 2 two. Any baud rate.
// Flow control off, receiver on, modem status ignored. Returns false when the
// system refused them (errno set); the device keeps its previous settings then.
bool SetLine(int fd, uint32_t baud, int dataBits, int parity, int stopBits);
// The settings can be read at all (what a configuration change starts from).
bool CanReadLine(int fd);

// Reads up to n bytes into buf. The read ends when n bytes came, when totalMs passed
// since the call (0: no total limit), or when intervalMs passed after a byte without
// the next one (0: no interval limit). Returns the count read. Measured with poll on
// a monotonic clock.
size_t ReadTimed(int fd, uint8_t* buf, size_t n, uint32_t intervalMs, uint32_t totalMs);

// Writes all n bytes; returns the count written (less than n on failure, errno set).
long WriteAll(int fd, const uint8_t* data, size_t n);
// Writes the pieces back to back in as few system calls as the device takes; returns
// the count written in all.
long WriteAllGather(int fd, const struct iovec* pieces, int count);

// Bytes waiting in the input queue.
size_t InputWaiting(int fd);

// Discards both directions.
void Flush(int fd);

// DTR and RTS on or off. Fails (false) on devices without modem lines, such as
// pseudo-terminals; that is their answer, not an error.
bool SetDtr(int fd, bool on);
bool SetRts(int fd, bool on);
bool SetBreak(int fd, bool on);

// Puts back the settings and modem lines saved by Open, then closes the device.
// Returns false when close() failed.
bool RestoreAndClose(int fd);

}  // namespace serialdev
