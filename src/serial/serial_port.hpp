// The one serial port the program talks through: open, line parameters, timed reads,
// writes, purge, DTR/RTS and close, each transfer traced at level 6 with its first
// 32 bytes. Also the connection-string keyword tables (Str2Value) and their reverse
// (ComPrmStr).
//
// Connection string: port, baud rate, data bits, parity, stop bits, separated by
// runs of blanks and commas, e.g. "COM1,9600,8,N,1" or "/dev/ttyUSB0 115200 8 E 1".
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace serialdev {
class Device;
}

struct ComKeyword {
    const char* keyword;  // null ends a table
    int value;
};

// Keyword tables of the connection string.
extern const ComKeyword kComDataBits[];  // "4".."8"
extern const ComKeyword kComParity[];    // "N" 0, "O" 1, "E" 2, "M" 3 (space, 4, has no keyword)
extern const ComKeyword kComStopBits[];  // "1" 0, "1.5" 1, "2" 2

// Upper-cases the keyword in place and looks it up. A null keyword is a FATAL ERROR
// ("Str2Value(NULL)"). Not found: false, value untouched.
bool Str2Value(char* keyword, int* value, const ComKeyword* table);

// Appends " <baud> <data> <parity> <stop>" to text: the baud rate shown is the one a
// divisor of 115200 really gives (rates up to 115200), unknown codes show as "??".
bool ComPrmStr(char* text, uint32_t baud, int dataBits, int parity, int stopBits);

// Opens the port (device naming: see platform/serial_device.hpp). A port that cannot
// be opened is an ERROR that says why ("Can't open %s: Permission denied", with a NOTE
// on the dialout group; "No such device"; "In use by another program"). Reads with
// timeout 0 then wait at most 15 ms between bytes and 10 ms per requested byte in total.
bool ComOpen(const char* portName);
// Whether the port could be opened now; prints nothing, leaves nothing open.
bool ComProbe(const char* portName);
bool ComIsOpen();
// The device path of the open port ("" when closed).
const char* ComDevicePath();

// The one connection state every layer asks: no port, a port open (configured or
// not), or a port on which the current driver's target has answered. Closing the port
// ends the connection, whoever closes it.
enum class LinkState { Closed, Open, Connected };
LinkState ComLinkState();
bool IsConnected();
// Marks the target on the open port as connected (ignored while no port is open).
void SetConnected(bool connected);

// Line parameters with the table values; switches flow control off and DTR and RTS
// off. A refused setting returns false with a level-5 message only.
bool ComSetParams(uint32_t baud, int dataBits, int parity, int stopBits);
// A rate change inside a session: only the baud rate changes; data bits, parity and
// stop bits stay as last set, and DTR and RTS stay where the line control left them
// (a board with its reset on one of them must not be reset mid-session).
bool ComSetBaudRate(uint32_t baud);
uint32_t ComBaudRate();
// Microseconds one character takes on the line as set (start, data, parity and stop
// bits); 0 before the line is set.
uint32_t ComCharTimeUs();
// Reads with timeout 0 follow the open-time rules again (15 ms between bytes, 10 ms
// per byte): what one driver set does not carry over to the next.
void ComResetReadTimeouts();

// Writes all bytes straight from the caller's buffer. A failed write is an ERROR
// ("Comm write failed."). Returns true.
bool ComWrite(const void* data, size_t n);

// Writes several pieces back to back as one transfer on the line (one system call
// where the device takes it), each piece traced as a write of its own. A frame that
// leaves in pieces gives the other side a gap between them that costs a round of
// scheduling on both ends.
struct ComPart {
    const void* data;
    size_t size;
};
bool ComWriteParts(const ComPart* parts, int count);

// Reads up to n bytes straight into buf. timeout > 0: returns as soon as n bytes are
// there, or when timeout ms passed; that timeout stays in force for later reads with
// timeout 0. Returns the count read; a short read is traced, never an error.
size_t ComRead(void* buf, size_t n, uint32_t timeoutMs);

// Reads until `complete` says the bytes read so far make a whole answer, n bytes came,
// or timeoutMs passed; returns as soon as the answer is complete. Traced once.
size_t ComReadUntil(void* buf, size_t n, uint32_t timeoutMs,
                    const std::function<bool(const uint8_t*, size_t)>& complete);

// Waits up to waitUs microseconds for input and reads what came (at most n bytes);
// traced only when something came.
size_t ComReadWithin(void* buf, size_t n, uint32_t waitUs);

// Bytes that arrived and wait to be read (no waiting).
size_t ComInputWaiting();
// Throws away input that is waiting (answers to earlier requests that came late or
// twice); returns how many bytes that was. Output is left alone.
size_t ComDiscardInput();

// Discards both directions, twice, 1 ms apart.
void ComPurge();

// Modem lines (true = on). Ports without modem lines (pseudo-terminals) return false.
bool ComSetDtr(bool on);
bool ComSetRts(bool on);
bool ComSetBreak();
bool ComClearBreak();

// Restores the settings and modem lines the port had before ComOpen and closes it.
void ComClose();

// The system device layer under the port, or a test's stand-in (null: the system's).
// Returns the previous stand-in (null for the system's).
serialdev::Device* SetSerialDevice(serialdev::Device* device);
