// Reset and programming-enable lines. Each line is the DTR or RTS signal of the serial
// port or one of the four GPIO pins of a CP2103 bridge, with a chosen active level.
// RESETCTRL and PGMENCTRL choose them; drivers decide when to pulse them:
//
//   LinesEnterBootloader();       // on connect (LPC2000_ISP): PE active, reset pulse, PE release
//   LinesRelease();               // on close: PE inactive, 10 ms, reset inactive
//   PgmEnLineDtrRtsSet(true);     // GEN_IAP: PE active only when it is DTR or RTS
//   ResetLineSet(true); ...       // MSP430BSL: RST/TEST sequences on DTR/RTS
//   if (ResetGpioInstalled()) ResetGpioSet(true);   // LPC2000_ISP exec with a GPIO reset
//
// "true" always means active: the physical level follows from the active level.
#pragma once

#include <cstddef>
#include <cstdint>

enum LineKind : int {
    LINE_GPIO = 0,  // a CP2103 GPIO pin, or no line when the pin number is -1
    LINE_DTR = 1,
    LINE_RTS = 2,
};

struct ControlLine {
    int kind = LINE_GPIO;
    int gpio = -1;             // 0..3 with kind LINE_GPIO; -1: no pin
    bool activeHigh = false;   // true: the signal is on (high) while the line is active
    void (*gpioSetter)(bool active) = nullptr;  // installed by the command for kind 0
};

const ControlLine& ResetLine();
const ControlLine& PgmEnLine();

// Parse a RESETCTRL / PGMENCTRL value ("DTR,1", "cp2103gpio_2 0", ...). Unknown
// items end the parse silently, keeping what was set so far.
void ResetLineConfigure(const char* value);
void PgmEnLineConfigure(const char* value);

// DTR/RTS setters: drive the line when it is DTR or RTS; nothing for kind 0.
void ResetLineSet(bool active);
void PgmEnLineSet(bool active);
// Whether the line is DTR or RTS.
bool ResetLineIsDtrRts();
bool PgmEnLineIsDtrRts();
// GEN_IAP's use of the programming-enable line: the same as PgmEnLineSet (drives it
// only when it is DTR or RTS, never a GPIO pin).
void PgmEnLineDtrRtsSet(bool active);

// GPIO setters: installed for kind 0; calling one that is not installed does nothing.
bool ResetGpioInstalled();
bool PgmEnGpioInstalled();
void ResetGpioSet(bool active);
void PgmEnGpioSet(bool active);

// Timing settings, milliseconds. An ISP hold time of -1 leaves the programming-enable
// line active until the interface is closed.
int32_t ResetTimeMs();
int32_t IspHoldTimeMs();
void SetResetTimeMs(int32_t ms);    // warns above 1000
void SetIspHoldTimeMs(int32_t ms);  // warns below -1 and above 5000

// The bootloader entry: with both GPIO setters installed, PE active, reset active,
// wait the reset time, reset inactive, then (hold time not -1) wait the hold time and
// PE inactive. Otherwise, with both lines DTR or RTS, the same on those lines.
// Otherwise nothing: the user resets the target by hand.
void LinesEnterBootloader();
// The release on close: GPIO PE inactive, 10 ms, GPIO reset inactive, then PE and
// reset inactive on DTR/RTS.
void LinesRelease();

// Writes the CP2103 GPIO latch of the open port (pins in mask to the levels in latch)
// and returns the latch read back. Without an open port: returns latch. Without a
// gpiochip for the port: "Unable to load '...'." once, and the pins stay untouched.
uint8_t Cp210xLatchSet(uint8_t latch, uint8_t mask);

// The ISP request that REQISP configures and drivers send while they connect.
constexpr unsigned kIspBytes = 63;
struct IspRequest {
    uint8_t requestCount = 0;
    uint8_t request[kIspBytes] = {};
    uint8_t responseCount = 0;
    uint8_t response[kIspBytes] = {};
};
const IspRequest& IspRequestGet();
void IspRequestClear();  // both counts 0
// Parses "req[,resp]" (hexadecimal texts; odd length gives count 0).
void IspRequestParse(const char* value);
bool IspRequestPending();
void SetIspRequestPending(bool pending);

// What actually moves the lines. Tests put a recording fake here; null restores the
// real serial port and GPIO access. Returns the previous one (null for the default).
class LineHardware {
public:
    virtual ~LineHardware() = default;
    virtual void SetDtr(bool on) = 0;
    virtual void SetRts(bool on) = 0;
    virtual uint8_t LatchSet(uint8_t latch, uint8_t mask) = 0;
    virtual void Wait(uint32_t ms) = 0;
};
LineHardware* SetLineHardware(LineHardware* hardware);
