// The host system's serial devices under the serial port layer: device naming, an
// exclusive open, and on the open port the line parameters, timed reads, writes, modem
// lines and the restore at close. The layer reaches them through this small interface,
// so that another system, another kind of port, or a test that must see what a
// pseudo-terminal hides (data bits, parity, modem lines) brings its own implementation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace serialdev {

// Device path of a port name, as the system names its devices (on Linux: a name with
// "/" is a path as it stands; "COMn" is /dev/ttyS(n-1); any other name is looked up
// under /dev/. On Windows: the name in the "\\.\" namespace, unless it has that form).
std::string DevicePath(const char* portName);

// Line parameters with the layer's codes: data bits 4..8, parity 0 none, 1 odd,
// 2 even, 3 mark, 4 space, stop bits 0 one, 1 one and a half, 2 two. Any baud rate.
struct LineSettings {
    uint32_t baud = 9600;
    int dataBits = 8;
    int parity = 0;
    int stopBits = 0;
};

// How long a timed read (Port::ReadTimed) may wait for its next bytes, all times in
// milliseconds of one clock: -1 without limit, 0 once the read is over.
inline int64_t ReadWaitMs(uint64_t start, uint64_t lastByte, uint64_t now, size_t got, uint32_t intervalMs,
                          uint32_t totalMs) {
    const bool limited = totalMs || (intervalMs && got > 0);
    int64_t wait = -1;
    if (totalMs) wait = static_cast<int64_t>(start + totalMs) - static_cast<int64_t>(now);
    if (intervalMs && got > 0) {
        int64_t gap = static_cast<int64_t>(lastByte + intervalMs) - static_cast<int64_t>(now);
        if (wait < 0 || gap < wait) wait = gap;
    }
    if (limited && wait <= 0) return 0;
    return wait;
}

// One piece of a gathered write.
struct Piece {
    const void* data;
    size_t size;
};

// Why a device did not open, in words a user can act on.
struct OpenFailure {
    std::string reason;  // "Permission denied", "No such device", "In use by another program", else the system's text
    std::string hint;    // what usually helps ("" when there is nothing to add)
};

// An open port. Destroying it without RestoreAndClose closes it without the restore.
class Port {
public:
    virtual ~Port() = default;

    // The settings can be read at all (what a configuration change starts from).
    virtual bool CanReadLine() = 0;
    // Flow control off, receiver on, modem status ignored. Returns false when the
    // system refused them; the device keeps its previous settings then. Does not move
    // the modem lines.
    virtual bool SetLine(const LineSettings& line) = 0;

    // Reads up to n bytes into buf. The read ends when n bytes came, when totalMs passed
    // since the call (0: no total limit), or when intervalMs passed after a byte without
    // the next one (0: no interval limit). Returns the count read.
    virtual size_t ReadTimed(uint8_t* buf, size_t n, uint32_t intervalMs, uint32_t totalMs) = 0;
    // Waits up to waitUs microseconds for input, then reads what is there (at most n
    // bytes). Microseconds: at high rates a character lasts a few of them.
    virtual size_t ReadAvailable(uint8_t* buf, size_t n, uint32_t waitUs) = 0;

    // Writes all n bytes; returns the count written (less than n on failure).
    virtual long WriteAll(const uint8_t* data, size_t n) = 0;
    // Writes the pieces (at most 8) back to back in as few system calls as the device
    // takes; returns the count written in all.
    virtual long WriteGather(const Piece* pieces, int count) = 0;

    // Bytes waiting in the input queue.
    virtual size_t InputWaiting() = 0;
    // Discards both directions, or the input only.
    virtual void Flush() = 0;
    virtual void FlushInput() = 0;

    // DTR and RTS on or off. Fails (false) on devices without modem lines, such as
    // pseudo-terminals; that is their answer, not an error.
    virtual bool SetDtr(bool on) = 0;
    virtual bool SetRts(bool on) = 0;
    virtual bool SetBreak(bool on) = 0;

    // Puts back the settings and modem lines the device had before it was opened, then
    // closes it. Returns false when the close failed.
    virtual bool RestoreAndClose() = 0;

    // For traces: the number the system knows the open device by, and its code and text
    // of the last failed call ("5 (Input/output error)").
    virtual long Id() const = 0;
    virtual std::string LastError() const = 0;
};

// A kind of port the layer can open.
class Device {
public:
    virtual ~Device() = default;
    // Opens the device for reading and writing, exclusively, in raw mode keeping its
    // rate and character format, and saves what it had for RestoreAndClose. Null, with
    // the reason, when it does not open (busy: another program holds it).
    virtual std::unique_ptr<Port> Open(const std::string& path, OpenFailure& failure) = 0;
    // Whether Open would succeed; the device is closed again at once.
    virtual bool Probe(const std::string& path) = 0;
};

// The system's serial devices (termios on Linux).
Device& System();

// The system's calls behind the layer's steps, as the messages that report a failed one
// name them: reading and applying the line settings, writing, gathered writing, closing,
// and the label of the last error's code.
struct CallNames {
    const char* readLine;
    const char* applyLine;
    const char* write;
    const char* writeGather;
    const char* close;
    const char* lastError;
};
const CallNames& SystemCallNames();

}  // namespace serialdev
