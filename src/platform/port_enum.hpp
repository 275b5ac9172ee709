// The serial ports the host system knows of.
#pragma once

#include <string>
#include <vector>

struct SystemPort {
    std::string name;          // device node, e.g. /dev/ttyUSB0
    std::string description;   // model name, else the kernel driver's name
    std::string manufacturer;  // vendor name, may be empty
    bool usb = false;          // the device sits on the USB bus
};

// Real serial ports (tty devices with a parent device, UARTs that do not exist left
// out), in the system's order. Empty when the device database cannot be read.
std::vector<SystemPort> EnumerateSystemPorts();
