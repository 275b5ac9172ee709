// The port on which the last AUTO search found a target ("AutoPort" in the
// configuration store); it is tried first by the next search.
#pragma once

constexpr unsigned kRememberedPortChars = 31;

// The remembered port, cut to 31 characters; empty when none is stored.
const char* RememberedPortRead();
// Stores the port name, cut to 31 characters (empty: forget the port).
void RememberedPortWrite(const char* portName);
