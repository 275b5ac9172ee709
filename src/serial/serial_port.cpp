#include "serial/serial_port.hpp"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <sys/uio.h>

#include "base/messages.hpp"
#include "platform/process.hpp"
#include "platform/serial_device.hpp"

const ComKeyword kComDataBits[] = {{"4", 4}, {"5", 5}, {"6", 6}, {"7", 7}, {"8", 8}, {nullptr, 0}};
const ComKeyword kComParity[] = {{"N", 0}, {"O", 1}, {"E", 2}, {"M", 3}, {nullptr, 0}};
const ComKeyword kComStopBits[] = {{"1", 0}, {"1.5", 1}, {"2", 2}, {nullptr, 0}};

namespace {
constexpr const char* kModule = "serial_port.cpp";
constexpr size_t kTraceBytes = 32;

struct PortState {
    serialdev::Device* dev = &serialdev::System();
    int fd = -1;
    std::string path;
    bool connected = false;
    // The line as last set: a rate change inside a session keeps its character format.
    serialdev::LineSettings line{0, 8, 0, 0};
    bool lineSet = false;
    // The modem lines as the line control last set them (-1: not known yet).
    int dtr = -1;
    int rts = -1;
    // Read timeouts in force, as the port keeps them between reads.
    uint32_t intervalMs = 15;
    uint32_t perByteMs = 10;
    uint32_t totalConstMs = 0;
};
PortState g_port;  // the one serial port the program talks through

// Builds "<head> XX XX ...}" with at most 32 bytes and prints it at level 6.
void Trace(const char* head, const uint8_t* bytes, size_t count) {
    // Every byte on the line passes here: build no text that nobody will see.
    if (!MsgVerbose() && !MsgDebugLog()) return;
    char line[1024];
    size_t used = static_cast<size_t>(snprintf(line, sizeof line, "%s", head));
    size_t shown = count < kTraceBytes ? count : kTraceBytes;
    for (size_t i = 0; i < shown; ++i) used += static_cast<size_t>(snprintf(line + used, sizeof line - used, " %02X", bytes[i]));
    snprintf(line + used, sizeof line - used, "}");
    MsgPrint(MSG_VERBOSE, "%s", line);
}

void TraceTx(const uint8_t* bytes, size_t count) {
    char head[32];
    snprintf(head, sizeof head, "Tx[%i]: {", static_cast<int>(count));
    Trace(head, bytes, count);
}

// A write the driver did not take whole ends the run; `call` names the system call.
void CheckWritten(const char* call, const void* data, size_t expected, long written) {
    if (written == static_cast<long>(expected)) return;
    int err = errno;
    MsgPrint(MSG_VERBOSE, "ERROR: %s(%d, %p, %d) : %d, dwWrite=%ld", call, g_port.fd, data, static_cast<int>(expected), 0,
             written);
    MsgPrint(MSG_VERBOSE, "errno : %d (%s)", err, strerror(err));
    MsgPrint(MSG_ERROR, "Comm write failed.");
}

void ResetReadTimeouts() {
    g_port.intervalMs = 15;
    g_port.perByteMs = 10;
    g_port.totalConstMs = 0;
}

// Why a port could not be opened, in the words a user can act on. Permission is the
// usual first-run failure on Linux: serial devices belong to the dialout group.
const char* OpenFailureReason(int err) {
    switch (err) {
    case EACCES:
    case EPERM: return "Permission denied";
    case ENOENT:
    case ENODEV:
    case ENXIO: return "No such device";
    case EBUSY:
    case EWOULDBLOCK: return "In use by another program";
    default: return strerror(err);
    }
}

void TraceRx(const uint8_t* bytes, size_t got, size_t n, uint32_t timeoutMs) {
    char head[64];
    if (got == n)
        snprintf(head, sizeof head, "Rx[%i]: {", static_cast<int>(n));
    else
        snprintf(head, sizeof head, "Rx[%i](%i bytes, %dms): {", static_cast<int>(got), static_cast<int>(n),
                 static_cast<int>(timeoutMs));
    Trace(head, bytes, got);
    if (got != n) MsgPrint(MSG_VERBOSE, "Not requested number of bytes read from com.");
}
}  // namespace

bool Str2Value(char* keyword, int* value, const ComKeyword* table) {
    if (!keyword) MsgPrint(MSG_FATAL, "Str2Value(NULL)");
    for (char* p = keyword; *p; ++p) *p = static_cast<char>(toupper(static_cast<unsigned char>(*p)));
    for (const ComKeyword* entry = table; entry->keyword; ++entry) {
        if (strcmp(keyword, entry->keyword) == 0) {
            *value = entry->value;
            return true;
        }
    }
    return false;
}

bool ComPrmStr(char* text, uint32_t baud, int dataBits, int parity, int stopBits) {
    if (!text) MsgPrint(MSG_FATAL, "ComPrmStr(NULL)");
    // A UART clocked for 115200 reaches lower rates through an integer divisor. A rate
    // of 0 has no divisor: it is shown as 0.
    uint32_t shown = baud;
    if (baud != 0 && baud <= 115200) shown = 115200 / (115200 / baud);
    char* end = text + strlen(text);
    end += sprintf(end, " %u", shown);
    const int values[3] = {dataBits, parity, stopBits};
    const ComKeyword* tables[3] = {kComDataBits, kComParity, kComStopBits};
    for (int i = 0; i < 3; ++i) {
        const char* keyword = "??";
        for (const ComKeyword* entry = tables[i]; entry->keyword; ++entry)
            if (entry->value == values[i]) {
                keyword = entry->keyword;
                break;
            }
        end += sprintf(end, " %s", keyword);
    }
    return true;
}

bool ComOpen(const char* portName) {
    MsgPrint(MSG_DEBUG, "Opening %s.", portName);
    if (g_port.fd >= 0) ComClose();  // one port at a time
    std::string path = serialdev::DevicePath(portName);
    int fd = g_port.dev->Open(path);
    if (fd < 0) {
        int err = errno;
        if (err == EACCES || err == EPERM)
            MsgPrint(MSG_NOTE, "Serial devices belong to the dialout group: sudo usermod -aG dialout $USER, then log in again.");
        MsgPrint(MSG_ERROR, "Can't open %s: %s", portName, OpenFailureReason(err));
    }
    g_port.fd = fd;
    g_port.path = path;
    g_port.connected = false;
    g_port.lineSet = false;
    g_port.dtr = g_port.rts = -1;
    ComPurge();
    ResetReadTimeouts();
    MsgPrint(MSG_DEBUG, "Open %s completed.", portName);
    return true;
}

bool ComProbe(const char* portName) {
    std::string path = serialdev::DevicePath(portName);
    if (g_port.fd >= 0 && path == g_port.path) return true;  // our own open port
    return g_port.dev->Probe(path);
}

bool ComIsOpen() { return g_port.fd >= 0; }

LinkState ComLinkState() {
    if (g_port.fd < 0) return LinkState::Closed;
    return g_port.connected ? LinkState::Connected : LinkState::Open;
}
bool IsConnected() { return ComLinkState() == LinkState::Connected; }
void SetConnected(bool connected) { g_port.connected = connected && g_port.fd >= 0; }
const char* ComDevicePath() { return g_port.fd >= 0 ? g_port.path.c_str() : ""; }

namespace {
// Applies the line and remembers it; `what` heads the level-5 report ("Com params set:").
bool ApplyLine(const serialdev::LineSettings& line, const char* what) {
    if (!g_port.dev->CanReadLine(g_port.fd)) MsgPrint(MSG_FATAL, "TCGETS2 ioctl() failed at line %i in %s", __LINE__, kModule);
    g_port.line.baud = line.baud;  // the current rate, even when the device refuses it
    if (!g_port.dev->SetLine(g_port.fd, line)) {
        MsgPrint(MSG_DEBUG, "TCSETS2 ioctl() failed at line %i in %s", __LINE__, kModule);
        return false;
    }
    g_port.line = line;
    g_port.lineSet = true;
    char text[80];
    snprintf(text, sizeof text, "%s", what);
    ComPrmStr(text, line.baud, line.dataBits, line.parity, line.stopBits);
    MsgPrint(MSG_DEBUG, "%s", text);
    return true;
}
}  // namespace

bool ComSetParams(uint32_t baud, int dataBits, int parity, int stopBits) {
    if (!ApplyLine({baud, dataBits, parity, stopBits}, "Com params set: ")) return false;
    // New parameters leave both modem lines off until line control sets them.
    g_port.dev->SetDtr(g_port.fd, false);
    g_port.dev->SetRts(g_port.fd, false);
    g_port.dtr = g_port.rts = 0;
    return true;
}

bool ComSetBaudRate(uint32_t baud) {
    serialdev::LineSettings line = g_port.line;
    line.baud = baud;
    if (!ApplyLine(line, "Com rate set: ")) return false;
    // Some UART drivers touch the modem lines on a rate change; a board whose reset is
    // wired to one of them must not see it move, so they are set again as they were.
    if (g_port.dtr >= 0) g_port.dev->SetDtr(g_port.fd, g_port.dtr != 0);
    if (g_port.rts >= 0) g_port.dev->SetRts(g_port.fd, g_port.rts != 0);
    return true;
}

uint32_t ComBaudRate() { return g_port.line.baud; }

uint32_t ComCharTimeUs() {
    if (!g_port.lineSet || g_port.line.baud == 0) return 0;
    // Start bit, data bits, parity bit, stop bits (one and a half counted as two).
    uint32_t bits = 1 + static_cast<uint32_t>(g_port.line.dataBits) + (g_port.line.parity != 0 ? 1 : 0) + (g_port.line.stopBits != 0 ? 2 : 1);
    return static_cast<uint32_t>((uint64_t{bits} * 1000000u + g_port.line.baud - 1) / g_port.line.baud);
}

void ComResetReadTimeouts() { ResetReadTimeouts(); }

bool ComWrite(const void* data, size_t n) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    CheckWritten("write", data, n, g_port.dev->WriteAll(g_port.fd, bytes, n));
    TraceTx(bytes, n);
    return true;
}

bool ComWriteParts(const ComPart* parts, int count) {
    iovec pieces[8] = {};
    if (count > 8) MsgPrint(MSG_FATAL, "ComWriteParts(): %i parts", count);
    size_t total = 0;
    for (int i = 0; i < count; ++i) {
        pieces[i].iov_base = const_cast<void*>(parts[i].data);
        pieces[i].iov_len = parts[i].size;
        total += parts[i].size;
    }
    CheckWritten("writev", parts, total, g_port.dev->WriteAllGather(g_port.fd, pieces, count));
    for (int i = 0; i < count; ++i) TraceTx(static_cast<const uint8_t*>(parts[i].data), parts[i].size);
    return true;
}

size_t ComRead(void* buf, size_t n, uint32_t timeoutMs) {
    if (timeoutMs != 0) {
        g_port.intervalMs = 0;
        g_port.perByteMs = 0;
        g_port.totalConstMs = timeoutMs;
    }
    uint8_t* bytes = static_cast<uint8_t*>(buf);
    size_t got = 0;
    if (g_port.fd >= 0 && n > 0) {
        uint32_t total = g_port.perByteMs * static_cast<uint32_t>(n) + g_port.totalConstMs;
        got = g_port.dev->ReadTimed(g_port.fd, bytes, n, g_port.intervalMs, total);
    }
    TraceRx(bytes, got, n, timeoutMs);
    return got;
}

size_t ComReadUntil(void* buf, size_t n, uint32_t timeoutMs, const std::function<bool(const uint8_t*, size_t)>& complete) {
    uint8_t* bytes = static_cast<uint8_t*>(buf);
    size_t got = 0;
    const uint32_t start = TickCountMs();
    while (g_port.fd >= 0 && got < n && !(got > 0 && complete(bytes, got))) {
        uint32_t elapsed = TickCountMs() - start;
        if (elapsed >= timeoutMs) break;
        got += g_port.dev->ReadAvailable(g_port.fd, bytes + got, n - got, (timeoutMs - elapsed) * 1000u);
    }
    // A caller that asked for a whole answer got all it waited for: trace it as complete.
    TraceRx(bytes, got, got > 0 && complete(bytes, got) ? got : n, timeoutMs);
    return got;
}

size_t ComReadWithin(void* buf, size_t n, uint32_t waitUs) {
    if (g_port.fd < 0 || n == 0) return 0;
    uint8_t* bytes = static_cast<uint8_t*>(buf);
    size_t got = g_port.dev->ReadAvailable(g_port.fd, bytes, n, waitUs);
    if (got) Trace("Rx: {", bytes, got);
    return got;
}

size_t ComDiscardInput() {
    if (g_port.fd < 0) return 0;
    size_t discarded = 0;
    uint8_t scrap[256];
    while (g_port.dev->InputWaiting(g_port.fd) > 0) {
        size_t k = g_port.dev->ReadAvailable(g_port.fd, scrap, sizeof scrap, 0);
        if (k == 0) break;
        if (discarded == 0) Trace("Discarded: {", scrap, k);
        discarded += k;
    }
    g_port.dev->FlushInput(g_port.fd);
    if (discarded) MsgPrint(MSG_VERBOSE, "%i stale byte(s) discarded", static_cast<int>(discarded));
    return discarded;
}

size_t ComInputWaiting() { return g_port.fd >= 0 ? g_port.dev->InputWaiting(g_port.fd) : 0; }

void ComPurge() {
    if (g_port.fd < 0) return;
    g_port.dev->Flush(g_port.fd);
    SleepMs(1);
    g_port.dev->Flush(g_port.fd);
}

bool ComSetDtr(bool on) {
    bool ok = g_port.fd >= 0 && g_port.dev->SetDtr(g_port.fd, on);
    if (g_port.fd >= 0) g_port.dtr = on ? 1 : 0;
    MsgPrint(MSG_VERBOSE, "DTR %s%s", on ? "on" : "off", ok ? "" : " (no modem line)");
    return ok;
}

bool ComSetRts(bool on) {
    bool ok = g_port.fd >= 0 && g_port.dev->SetRts(g_port.fd, on);
    if (g_port.fd >= 0) g_port.rts = on ? 1 : 0;
    MsgPrint(MSG_VERBOSE, "RTS %s%s", on ? "on" : "off", ok ? "" : " (no modem line)");
    return ok;
}

bool ComSetBreak() { return g_port.fd >= 0 && g_port.dev->SetBreak(g_port.fd, true); }
bool ComClearBreak() { return g_port.fd >= 0 && g_port.dev->SetBreak(g_port.fd, false); }

serialdev::Device* SetSerialDevice(serialdev::Device* device) {
    serialdev::Device* previous = g_port.dev == &serialdev::System() ? nullptr : g_port.dev;
    g_port.dev = device ? device : &serialdev::System();
    return previous;
}

void ComClose() {
    MsgPrint(MSG_DEBUG, "Closing comm port.");
    if (g_port.fd < 0) return;
    int fd = g_port.fd;
    g_port.fd = -1;
    g_port.path.clear();
    g_port.connected = false;
    if (!g_port.dev->RestoreAndClose(fd)) MsgPrint(MSG_FATAL, "close() failed at line %i in %s", __LINE__, kModule);
}
