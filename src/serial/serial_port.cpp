#include "serial/serial_port.hpp"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/uio.h>

#include "cli/messages.hpp"
#include "platform/process.hpp"
#include "platform/serial_device.hpp"

const ComKeyword kComDataBits[] = {{"4", 4}, {"5", 5}, {"6", 6}, {"7", 7}, {"8", 8}, {nullptr, 0}};
const ComKeyword kComParity[] = {{"N", 0}, {"O", 1}, {"E", 2}, {"M", 3}, {nullptr, 0}};
const ComKeyword kComStopBits[] = {{"1", 0}, {"1.5", 1}, {"2", 2}, {nullptr, 0}};

namespace {
constexpr const char* kModule = "serial_port.cpp";
constexpr size_t kTraceBytes = 32;

int g_fd = -1;
std::string g_path;
uint32_t g_baud = 0;

// Read timeouts in force, as the port keeps them between reads.
uint32_t g_intervalMs = 15;
uint32_t g_perByteMs = 10;
uint32_t g_totalConstMs = 0;

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
    MsgPrint(MSG_VERBOSE, "ERROR: %s(%d, %p, %d) : %d, dwWrite=%ld", call, g_fd, data, static_cast<int>(expected), 0,
             written);
    MsgPrint(MSG_VERBOSE, "errno : %d (%s)", err, strerror(err));
    MsgPrint(MSG_ERROR, "Comm write failed.");
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
    if (g_fd >= 0) ComClose();  // one port at a time
    std::string path = serialdev::DevicePath(portName);
    int fd = serialdev::Open(path);
    if (fd < 0) MsgPrint(MSG_ERROR, "Can't open %s", portName);
    g_fd = fd;
    g_path = path;
    ComPurge();
    g_intervalMs = 15;
    g_perByteMs = 10;
    g_totalConstMs = 0;
    MsgPrint(MSG_DEBUG, "Open %s completed.", portName);
    return true;
}

bool ComProbe(const char* portName) {
    std::string path = serialdev::DevicePath(portName);
    if (g_fd >= 0 && path == g_path) return true;  // our own open port
    return serialdev::Probe(path);
}

bool ComIsOpen() { return g_fd >= 0; }
const char* ComDevicePath() { return g_fd >= 0 ? g_path.c_str() : ""; }

bool ComSetParams(uint32_t baud, int dataBits, int parity, int stopBits) {
    if (!serialdev::CanReadLine(g_fd)) MsgPrint(MSG_FATAL, "TCGETS2 ioctl() failed at line %i in %s", __LINE__, kModule);
    g_baud = baud;
    if (!serialdev::SetLine(g_fd, baud, dataBits, parity, stopBits)) {
        MsgPrint(MSG_DEBUG, "TCSETS2 ioctl() failed at line %i in %s", __LINE__, kModule);
        return false;
    }
    // New parameters leave both modem lines off until line control sets them.
    serialdev::SetDtr(g_fd, false);
    serialdev::SetRts(g_fd, false);
    char text[80] = "Com params set: ";
    ComPrmStr(text, baud, dataBits, parity, stopBits);
    MsgPrint(MSG_DEBUG, "%s", text);
    return true;
}

uint32_t ComBaudRate() { return g_baud; }

bool ComWrite(const void* data, size_t n) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    CheckWritten("write", data, n, serialdev::WriteAll(g_fd, bytes, n));
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
    CheckWritten("writev", parts, total, serialdev::WriteAllGather(g_fd, pieces, count));
    for (int i = 0; i < count; ++i) TraceTx(static_cast<const uint8_t*>(parts[i].data), parts[i].size);
    return true;
}

size_t ComRead(void* buf, size_t n, uint32_t timeoutMs) {
    if (timeoutMs != 0) {
        g_intervalMs = 0;
        g_perByteMs = 0;
        g_totalConstMs = timeoutMs;
    }
    uint8_t* bytes = static_cast<uint8_t*>(buf);
    size_t got = 0;
    if (g_fd >= 0 && n > 0) {
        uint32_t total = g_perByteMs * static_cast<uint32_t>(n) + g_totalConstMs;
        got = serialdev::ReadTimed(g_fd, bytes, n, g_intervalMs, total);
    }
    char head[64];
    if (got == n)
        snprintf(head, sizeof head, "Rx[%i]: {", static_cast<int>(n));
    else
        snprintf(head, sizeof head, "Rx[%i](%i bytes, %dms): {", static_cast<int>(got), static_cast<int>(n),
                 static_cast<int>(timeoutMs));
    Trace(head, bytes, got);
    if (got != n) MsgPrint(MSG_VERBOSE, "Not requested number of bytes read from com.");
    return got;
}

size_t ComInputWaiting() { return g_fd >= 0 ? serialdev::InputWaiting(g_fd) : 0; }

void ComPurge() {
    if (g_fd < 0) return;
    serialdev::Flush(g_fd);
    SleepMs(1);
    serialdev::Flush(g_fd);
}

bool ComSetDtr(bool on) {
    bool ok = g_fd >= 0 && serialdev::SetDtr(g_fd, on);
    MsgPrint(MSG_VERBOSE, "DTR %s%s", on ? "on" : "off", ok ? "" : " (no modem line)");
    return ok;
}

bool ComSetRts(bool on) {
    bool ok = g_fd >= 0 && serialdev::SetRts(g_fd, on);
    MsgPrint(MSG_VERBOSE, "RTS %s%s", on ? "on" : "off", ok ? "" : " (no modem line)");
    return ok;
}

bool ComSetBreak() { return g_fd >= 0 && serialdev::SetBreak(g_fd, true); }
bool ComClearBreak() { return g_fd >= 0 && serialdev::SetBreak(g_fd, false); }

void ComClose() {
    MsgPrint(MSG_DEBUG, "Closing comm port.");
    if (g_fd < 0) return;
    int fd = g_fd;
    g_fd = -1;
    g_path.clear();
    if (!serialdev::RestoreAndClose(fd)) MsgPrint(MSG_FATAL, "close() failed at line %i in %s", __LINE__, kModule);
}
