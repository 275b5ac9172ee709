// The four GPIO pins of a CP2103 USB-serial bridge. The Linux cp210x driver registers
// them as a gpiochip whose parent is the port's USB interface; the pins are driven
// through libgpiod line requests, which stay held until Detach. On Windows they are
// reached through the vendor's run-time library and the open port's handle.
#pragma once

#include <cstdint>
#include <string>

namespace cp210xgpio {

// Finds and opens the gpiochip of the serial device (a path under /dev, symbolic
// links followed). False when the device has none; lookedFor then names what was
// searched for.
bool Attach(const std::string& devicePath, std::string& lookedFor);
// After a failed Attach: the function a support library that did load lacks ("" when
// there is none, or no library is involved). Such a library cannot drive the pins.
std::string MissingFunction();
bool Attached();
const std::string& AttachedDevice();

// Drives the pins selected by mask (bit n = GPIO n) to the levels in latch.
bool WriteLatch(uint8_t mask, uint8_t latch);
// The pins' levels: pins this program drives report their level, others the bits
// of assumed.
bool ReadLatch(uint8_t assumed, uint8_t& latch);

// Releases the pins and the chip.
void Detach();

}  // namespace cp210xgpio
