// The host system's serial device operations under the serial port layer: device
// naming, exclusive open, line parameters, timed reads, modem lines and restore. The
// layer reaches them through one small interface, so that another system (or a test
// that must see what a pseudo-terminal hides: data bits, parity, modem lines) brings
// its own implementation.
#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace serialdev {

// Device path of a port name: a name with "/" is a path as it stands; "COMn" (any
// letter case, n >= 1) is /dev/ttyS(n-1); any other name is looked up under /dev/.
std::string DevicePath(const char* portName);

// Line parameters with the layer's codes: data bits 4..8, parity 0 none, 1 odd,
// 2 even, 3 mark, 4 space, stop bits 0 one, 1 one and a half, 2 two. Any baud rate.
struct LineSettings {
    uint32_t baud = 9600;
    int dataBits = 8;
    int parity = 0;
    int stopBits = 0;
};

class Device {
public:
    virtual ~Device() = default;

    // Opens the device for reading and writing, not as controlling terminal,
    // exclusively, in raw mode keeping its rate and character format. Saves the
    // settings and modem lines it had, for RestoreAndClose. Returns the descriptor, or
    // -1 with errno set (EBUSY when another program holds the device).
    virtual int Open(const std::string& path) = 0;
    // Whether Open would succeed; the device is closed again at once.
    virtual bool Probe(const std::string& path) = 0;

    // The settings can be read at all (what a configuration change starts from).
    virtual bool CanReadLine(int fd) = 0;
    // Flow control off, receiver on, modem status ignored. Returns false when the
    // system refused them (errno set); the device keeps its previous settings then.
    // Does not move the modem lines.
    virtual bool SetLine(int fd, const LineSettings& line) = 0;

    // Reads up to n bytes into buf. The read ends when n bytes came, when totalMs passed
    // since the call (0: no total limit), or when intervalMs passed after a byte without
    // the next one (0: no interval limit). Returns the count read.
    virtual size_t ReadTimed(int fd, uint8_t* buf, size_t n, uint32_t intervalMs, uint32_t totalMs) = 0;
    // Waits up to waitUs microseconds for input, then reads what is there (at most n
    // bytes). Microseconds: at high rates a character lasts a few of them.
    virtual size_t ReadAvailable(int fd, uint8_t* buf, size_t n, uint32_t waitUs) = 0;

    // Writes all n bytes; returns the count written (less than n on failure, errno set).
    virtual long WriteAll(int fd, const uint8_t* data, size_t n) = 0;
    // Writes the pieces back to back in as few system calls as the device takes;
    // returns the count written in all.
    virtual long WriteAllGather(int fd, const struct iovec* pieces, int count) = 0;

    // Bytes waiting in the input queue.
    virtual size_t InputWaiting(int fd) = 0;
    // Discards both directions, or the input only.
    virtual void Flush(int fd) = 0;
    virtual void FlushInput(int fd) = 0;

    // DTR and RTS on or off. Fails (false) on devices without modem lines, such as
    // pseudo-terminals; that is their answer, not an error.
    virtual bool SetDtr(int fd, bool on) = 0;
    virtual bool SetRts(int fd, bool on) = 0;
    virtual bool SetBreak(int fd, bool on) = 0;

    // Puts back the settings and modem lines saved by Open, then closes the device.
    // Returns false when close() failed.
    virtual bool RestoreAndClose(int fd) = 0;
};

// The system's devices (termios on Linux).
Device& System();

}  // namespace serialdev
