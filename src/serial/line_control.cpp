#include "serial/line_control.hpp"

#include <cstring>
#include <string>

#include "base/exit.hpp"
#include "base/messages.hpp"
#include "base/text.hpp"
#include "platform/gpio_cp210x.hpp"
#include "platform/process.hpp"
#include "serial/serial_port.hpp"

namespace {
class SystemLines : public LineHardware {
public:
    void SetDtr(bool on) override { ComSetDtr(on); }
    void SetRts(bool on) override { ComSetRts(on); }
    uint8_t LatchSet(uint8_t latch, uint8_t mask) override { return Cp210xLatchSet(latch, mask); }
    void Wait(uint32_t ms) override { SleepMs(ms); }
};

struct LineControlState {
    ControlLine reset;
    ControlLine pgmEn;
    int32_t resetTimeMs = 50;
    int32_t ispHoldTimeMs = 50;
    IspRequest isp;
    bool ispPending = false;
    SystemLines systemLines;
    LineHardware* hardware = &systemLines;
    // The latch pins are looked for once per port; a port without them is reported
    // once per run and its pins are left alone.
    bool gpioReported = false;
    std::string gpioMissingFor;
};
LineControlState g_lines;  // the lines of the one serial port

// A negative time is no time (the system call would read it as weeks).
void WaitMs(int32_t ms) { g_lines.hardware->Wait(ms > 0 ? static_cast<uint32_t>(ms) : 0); }

bool PhysicalLevel(const ControlLine& line, bool active) { return line.activeHigh ? active : !active; }

void SetDtrRts(const ControlLine& line, bool active) {
    bool level = PhysicalLevel(line, active);
    if (line.kind == LINE_DTR) g_lines.hardware->SetDtr(level);
    if (line.kind == LINE_RTS) g_lines.hardware->SetRts(level);
}

void SetGpio(const ControlLine& line, bool active) {
    if (line.gpio < 0) return;
    unsigned level = PhysicalLevel(line, active) ? 1u : 0u;
    g_lines.hardware->LatchSet(static_cast<uint8_t>(level << line.gpio), static_cast<uint8_t>(1u << line.gpio));
}

void ResetGpioSetter(bool active) { SetGpio(g_lines.reset, active); }
void PgmEnGpioSetter(bool active) { SetGpio(g_lines.pgmEn, active); }

void Configure(ControlLine& line, void (*setter)(bool), const char* value) {
    line.kind = LINE_GPIO;
    const std::vector<std::string> tokens = Tokens(UpperCase(value ? value : ""), " ,");
    if (tokens.empty()) return;
    const char* name = tokens[0].c_str();
    if (strncmp(name, "CP2103GPIO_", 11) == 0 && name[11] >= '0' && name[11] <= '3' && name[12] == '\0')
        line.gpio = name[11] - '0';
    else if (strcmp(name, "DTR") == 0)
        line.kind = LINE_DTR;
    else if (strcmp(name, "RTS") == 0)
        line.kind = LINE_RTS;
    else
        return;
    // A line moved to DTR or RTS must no longer pulse the GPIO pin it had before.
    if (line.kind != LINE_GPIO) line.gpioSetter = nullptr;
    if (tokens.size() > 1) {
        const char* level = tokens[1].c_str();
        if (strcmp(level, "1") == 0)
            line.activeHigh = true;
        else if (strcmp(level, "0") == 0)
            line.activeHigh = false;
        else
            return;
    }
    if (line.kind == LINE_GPIO) line.gpioSetter = setter;
}

// Hexadecimal text to bytes: a character that is not a digit repeats the previous
// digit's value; an odd number of characters gives no bytes at all.
uint8_t HexToBytes(const std::string& text, uint8_t* bytes) {
    if (text.size() % 2 != 0) return 0;
    size_t count = text.size() / 2 < kIspBytes ? text.size() / 2 : kIspBytes;
    unsigned digit = 0;
    for (size_t i = 0; i < count * 2; ++i) {
        char c = text[i];
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        if (i % 2 == 0)
            bytes[i / 2] = static_cast<uint8_t>(digit << 4);
        else
            bytes[i / 2] = static_cast<uint8_t>(bytes[i / 2] | digit);
    }
    return static_cast<uint8_t>(count);
}
}  // namespace

const ControlLine& ResetLine() { return g_lines.reset; }
const ControlLine& PgmEnLine() { return g_lines.pgmEn; }
void ResetLineConfigure(const char* value) { Configure(g_lines.reset, ResetGpioSetter, value); }
void PgmEnLineConfigure(const char* value) { Configure(g_lines.pgmEn, PgmEnGpioSetter, value); }

void ResetLineSet(bool active) { SetDtrRts(g_lines.reset, active); }
void PgmEnLineSet(bool active) { SetDtrRts(g_lines.pgmEn, active); }
bool ResetLineIsDtrRts() { return g_lines.reset.kind != LINE_GPIO; }
bool PgmEnLineIsDtrRts() { return g_lines.pgmEn.kind != LINE_GPIO; }
void PgmEnLineDtrRtsSet(bool active) { SetDtrRts(g_lines.pgmEn, active); }

bool ResetGpioInstalled() { return g_lines.reset.gpioSetter != nullptr; }
bool PgmEnGpioInstalled() { return g_lines.pgmEn.gpioSetter != nullptr; }
void ResetGpioSet(bool active) {
    if (g_lines.reset.gpioSetter) g_lines.reset.gpioSetter(active);
}
void PgmEnGpioSet(bool active) {
    if (g_lines.pgmEn.gpioSetter) g_lines.pgmEn.gpioSetter(active);
}

int32_t ResetTimeMs() { return g_lines.resetTimeMs; }
int32_t IspHoldTimeMs() { return g_lines.ispHoldTimeMs; }
void SetResetTimeMs(int32_t ms) {
    g_lines.resetTimeMs = ms;
    if (ms > 1000) MsgPrint(MSG_WARNING, "Very long reset time. Are you nuts?");
}
void SetIspHoldTimeMs(int32_t ms) {
    g_lines.ispHoldTimeMs = ms;
    if (ms < -1 || ms > 5000) MsgPrint(MSG_WARNING, "Very long ISP hold time. Are you nuts?");
}

void LinesEnterBootloader() {
    void (*setPgmEn)(bool) = nullptr;
    void (*setReset)(bool) = nullptr;
    if (ResetGpioInstalled() && PgmEnGpioInstalled()) {
        setPgmEn = PgmEnGpioSet;
        setReset = ResetGpioSet;
    } else if (ResetLineIsDtrRts() && PgmEnLineIsDtrRts()) {
        setPgmEn = PgmEnLineSet;
        setReset = ResetLineSet;
    } else {
        return;
    }
    // The bootloader samples the programming-enable pin as the part leaves reset.
    setPgmEn(true);
    setReset(true);
    WaitMs(g_lines.resetTimeMs);
    setReset(false);
    if (g_lines.ispHoldTimeMs == -1) return;
    WaitMs(g_lines.ispHoldTimeMs);
    setPgmEn(false);
}

void LinesRelease() {
    PgmEnGpioSet(false);
    WaitMs(10);
    ResetGpioSet(false);
    PgmEnLineSet(false);
    ResetLineSet(false);
}

uint8_t Cp210xLatchSet(uint8_t latch, uint8_t mask) {
    if (!ComIsOpen()) return latch;
    std::string device = ComDevicePath();
    if (device == g_lines.gpioMissingFor) return latch;
    if (!cp210xgpio::Attached() || cp210xgpio::AttachedDevice() != device) {
        std::string lookedFor;
        if (!cp210xgpio::Attach(device, lookedFor)) {
            // A library without one of its functions is a broken installation: the
            // run ends rather than leave the target's reset line in doubt.
            if (std::string missing = cp210xgpio::MissingFunction(); !missing.empty()) {
                MsgPrint(MSG_RAW, "Unable to import function '%s'.", missing.c_str());
                AppExit(1);
            }
            g_lines.gpioMissingFor = device;
            if (!g_lines.gpioReported) MsgPrint(MSG_RAW, "Unable to load '%s'.", lookedFor.c_str());
            g_lines.gpioReported = true;
            return latch;
        }
    }
    MsgPrint(MSG_VERBOSE, "GPIO latch %02X mask %02X", latch, mask);
    if (!cp210xgpio::WriteLatch(mask, latch)) MsgPrint(MSG_RAW, "Error Writing Latch");
    uint8_t readBack = latch;
    if (!cp210xgpio::ReadLatch(latch, readBack)) MsgPrint(MSG_RAW, "Error Reading Latch");
    return readBack;
}

const IspRequest& IspRequestGet() { return g_lines.isp; }
void IspRequestClear() {
    g_lines.isp.requestCount = 0;
    g_lines.isp.responseCount = 0;
}

void IspRequestParse(const char* value) {
    IspRequestClear();
    std::string text = UpperCase(value ? value : "");
    size_t end = text.find_first_of(" ,");
    std::string request = text.substr(0, end);
    std::string response;
    if (end != std::string::npos) {
        size_t respEnd = text.find(' ', end + 1);
        response = text.substr(end + 1, respEnd == std::string::npos ? std::string::npos : respEnd - end - 1);
    }
    g_lines.isp.requestCount = HexToBytes(request, g_lines.isp.request);
    g_lines.isp.responseCount = HexToBytes(response, g_lines.isp.response);
}

bool IspRequestPending() { return g_lines.ispPending; }
void SetIspRequestPending(bool pending) { g_lines.ispPending = pending; }

LineHardware* SetLineHardware(LineHardware* hardware) {
    LineHardware* previous = g_lines.hardware == &g_lines.systemLines ? nullptr : g_lines.hardware;
    g_lines.hardware = hardware ? hardware : &g_lines.systemLines;
    return previous;
}
