// The UART frame of one byte: start bit, data bits, optional parity bit, stop bits.
#pragma once

#include <cstdint>
#include <string>

struct LineFormat {
    uint8_t dataBits = 8;    // 5 to 8
    char parity = 'N';       // N(one), E(ven), O(dd), M(ark), S(pace)
    uint8_t stopHalves = 2;  // stop bits in half bit times: 2 (1), 3 (1.5) or 4 (2)

    // Bit times one byte takes on the line.
    double BitsPerByte() const { return 1 + dataBits + (parity == 'N' ? 0 : 1) + stopHalves / 2.0; }
    // What a termios CSTOPB stands for: 2 stop bits, or 1.5 at 5 data bits on a 16550.
    bool MoreThanOneStopBit() const { return stopHalves > 2; }
    std::string Text() const;  // "8N1", "8E1.5", "7O2"
};

// "8N1", "8e2", "5N1.5": data bits, parity letter, stop bits.
bool ParseLineFormat(const std::string& text, LineFormat& format);
