// The port on which the last AUTO search found a target ("AutoPort" in the
// configuration store); it is tried first by the next search.
#pragma once

#include <string>

// Long enough for any device path (/dev/serial/by-id/... names run past 80 characters).
constexpr unsigned kRememberedPortChars = 255;

// The remembered port, cut to 255 characters; empty when none is stored.
std::string RememberedPortRead();
// Stores the port name, cut to 255 characters (empty: forget the port).
void RememberedPortWrite(const char* portName);
