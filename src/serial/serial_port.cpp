#include "serial/serial_port.hpp"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "base/messages.hpp"
#include "platform/process.hpp"
#include "platform/serial_device.hpp"
#include "serial/network_port.hpp"

const ComKeyword kComDataBits[] = {{"4", 4}, {"5", 5}, {"6", 6}, {"7", 7}, {"8", 8}, {nullptr, 0}};
const ComKeyword kComParity[] = {{"N", 0}, {"O", 1}, {"E", 2}, {"M", 3}, {nullptr, 0}};
const ComKeyword kComStopBits[] = {{"1", 0}, {"1.5", 1}, {"2", 2}, {nullptr, 0}};

namespace {
constexpr const char* kModule = "serial_port.cpp";
constexpr size_t kTraceBytes = 32;

struct PortState {
    serialdev::Device* dev = &serialdev::System();
    std::unique_ptr<serialdev::Port> port;  // null while no port is open
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
    MsgPrint(MSG_VERBOSE, "ERROR: %s(%ld, %p, %d) : %d, dwWrite=%ld", call, g_port.port ? g_port.port->Id() : -1L, data,
             static_cast<int>(expected), 0, written);
    if (g_port.port)
        MsgPrint(MSG_VERBOSE, "%s : %s", serialdev::SystemCallNames().lastError, g_port.port->LastError().c_str());
    MsgPrint(MSG_ERROR, "Comm write failed.");
}

void ResetReadTimeouts() {
    g_port.intervalMs = 15;
    g_port.perByteMs = 10;
    g_port.totalConstMs = 0;
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
    if (g_port.port) ComClose();  // one port at a time
    // A URL names a port behind a network serial server; any other name a device here.
    const bool network = IsNetworkPortName(portName);
    std::string path = network ? std::string(portName) : serialdev::DevicePath(portName);
    serialdev::OpenFailure failure;
    std::unique_ptr<serialdev::Port> port = (network ? NetworkSerialDevice() : *g_port.dev).Open(path, failure);
    if (!port) {
        if (!failure.hint.empty()) MsgPrint(MSG_NOTE, "%s", failure.hint.c_str());
        MsgPrint(MSG_ERROR, "Can't open %s: %s", portName, failure.reason.c_str());
    }
    g_port.port = std::move(port);
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
    if (IsNetworkPortName(portName)) return NetworkSerialDevice().Probe(portName);
    std::string path = serialdev::DevicePath(portName);
    if (g_port.port && path == g_port.path) return true;  // our own open port
    return g_port.dev->Probe(path);
}

bool ComIsOpen() { return g_port.port != nullptr; }

LinkState ComLinkState() {
    if (!g_port.port) return LinkState::Closed;
    return g_port.connected ? LinkState::Connected : LinkState::Open;
}
bool IsConnected() { return ComLinkState() == LinkState::Connected; }
void SetConnected(bool connected) { g_port.connected = connected && g_port.port; }
const char* ComDevicePath() { return g_port.port ? g_port.path.c_str() : ""; }

namespace {
// Applies the line and remembers it; `what` heads the level-5 report ("Com params set:").
bool ApplyLine(const serialdev::LineSettings& line, const char* what) {
    const serialdev::CallNames& calls = serialdev::SystemCallNames();
    if (!g_port.port->CanReadLine())
        MsgPrint(MSG_FATAL, "%s() failed at line %i in %s", calls.readLine, __LINE__, kModule);
    g_port.line.baud = line.baud;  // the current rate, even when the device refuses it
    if (!g_port.port->SetLine(line)) {
        MsgPrint(MSG_DEBUG, "%s() failed at line %i in %s", calls.applyLine, __LINE__, kModule);
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
    g_port.port->SetDtr(false);
    g_port.port->SetRts(false);
    g_port.dtr = g_port.rts = 0;
    return true;
}

bool ComSetBaudRate(uint32_t baud) {
    serialdev::LineSettings line = g_port.line;
    line.baud = baud;
    if (!ApplyLine(line, "Com rate set: ")) return false;
    // Some UART drivers touch the modem lines on a rate change; a board whose reset is
    // wired to one of them must not see it move, so they are set again as they were.
    if (g_port.dtr >= 0) g_port.port->SetDtr(g_port.dtr != 0);
    if (g_port.rts >= 0) g_port.port->SetRts(g_port.rts != 0);
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
    CheckWritten(serialdev::SystemCallNames().write, data, n, g_port.port ? g_port.port->WriteAll(bytes, n) : -1);
    TraceTx(bytes, n);
    return true;
}

bool ComWriteParts(const ComPart* parts, int count) {
    serialdev::Piece pieces[8] = {};
    if (count > 8) MsgPrint(MSG_FATAL, "ComWriteParts(): %i parts", count);
    size_t total = 0;
    for (int i = 0; i < count; ++i) {
        pieces[i] = {parts[i].data, parts[i].size};
        total += parts[i].size;
    }
    CheckWritten(serialdev::SystemCallNames().writeGather, parts, total,
                 g_port.port ? g_port.port->WriteGather(pieces, count) : -1);
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
    if (g_port.port && n > 0) {
        uint32_t total = g_port.perByteMs * static_cast<uint32_t>(n) + g_port.totalConstMs;
        got = g_port.port->ReadTimed(bytes, n, g_port.intervalMs, total);
    }
    TraceRx(bytes, got, n, timeoutMs);
    return got;
}

size_t ComReadUntil(void* buf, size_t n, uint32_t timeoutMs, const std::function<bool(const uint8_t*, size_t)>& complete) {
    uint8_t* bytes = static_cast<uint8_t*>(buf);
    size_t got = 0;
    const uint32_t start = TickCountMs();
    while (g_port.port && got < n && !(got > 0 && complete(bytes, got))) {
        uint32_t elapsed = TickCountMs() - start;
        if (elapsed >= timeoutMs) break;
        got += g_port.port->ReadAvailable(bytes + got, n - got, (timeoutMs - elapsed) * 1000u);
    }
    // A caller that asked for a whole answer got all it waited for: trace it as complete.
    TraceRx(bytes, got, got > 0 && complete(bytes, got) ? got : n, timeoutMs);
    return got;
}

size_t ComReadWithin(void* buf, size_t n, uint32_t waitUs) {
    if (!g_port.port || n == 0) return 0;
    uint8_t* bytes = static_cast<uint8_t*>(buf);
    size_t got = g_port.port->ReadAvailable(bytes, n, waitUs);
    if (got) Trace("Rx: {", bytes, got);
    return got;
}

size_t ComDiscardInput() {
    if (!g_port.port) return 0;
    size_t discarded = 0;
    uint8_t scrap[256];
    while (g_port.port->InputWaiting() > 0) {
        size_t k = g_port.port->ReadAvailable(scrap, sizeof scrap, 0);
        if (k == 0) break;
        if (discarded == 0) Trace("Discarded: {", scrap, k);
        discarded += k;
    }
    g_port.port->FlushInput();
    if (discarded) MsgPrint(MSG_VERBOSE, "%i stale byte(s) discarded", static_cast<int>(discarded));
    return discarded;
}

size_t ComInputWaiting() { return g_port.port ? g_port.port->InputWaiting() : 0; }

void ComPurge() {
    if (!g_port.port) return;
    g_port.port->Flush();
    SleepMs(1);
    g_port.port->Flush();
}

bool ComSetDtr(bool on) {
    bool ok = g_port.port && g_port.port->SetDtr(on);
    if (g_port.port) g_port.dtr = on ? 1 : 0;
    MsgPrint(MSG_VERBOSE, "DTR %s%s", on ? "on" : "off", ok ? "" : " (no modem line)");
    return ok;
}

bool ComSetRts(bool on) {
    bool ok = g_port.port && g_port.port->SetRts(on);
    if (g_port.port) g_port.rts = on ? 1 : 0;
    MsgPrint(MSG_VERBOSE, "RTS %s%s", on ? "on" : "off", ok ? "" : " (no modem line)");
    return ok;
}

bool ComSetBreak() { return g_port.port && g_port.port->SetBreak(true); }
bool ComClearBreak() { return g_port.port && g_port.port->SetBreak(false); }

serialdev::Device* SetSerialDevice(serialdev::Device* device) {
    serialdev::Device* previous = g_port.dev == &serialdev::System() ? nullptr : g_port.dev;
    g_port.dev = device ? device : &serialdev::System();
    return previous;
}

void ComClose() {
    MsgPrint(MSG_DEBUG, "Closing comm port.");
    if (!g_port.port) return;
    std::unique_ptr<serialdev::Port> port = std::move(g_port.port);
    g_port.path.clear();
    g_port.connected = false;
    if (!port->RestoreAndClose())
        MsgPrint(MSG_FATAL, "%s() failed at line %i in %s", serialdev::SystemCallNames().close, __LINE__, kModule);
}
