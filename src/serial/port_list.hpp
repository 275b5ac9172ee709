// The list of serial ports for PORTLIST and the AUTO search: the system's ports, then
// the ports named in the environment variable VORLO_PORTS (device paths separated by
// blanks or colons, e.g. pseudo-terminals of simulators), as non-USB ports described
// as "virtual port". At most 32 entries; the list is consumed from its end.
#pragma once

#include <cstddef>

constexpr unsigned kPortListSize = 32;

// Fills the list and returns the number of entries. A non-empty filter keeps only
// ports whose name or description contains it, or whose manufacturer does
// (case-sensitive). mustOpen keeps only ports that can be opened now.
int PortEnumerate(const char* filter, bool mustOpen, bool includeNonUsb, bool includeUsb);

// Removes the last entry and returns its name (null when the list is empty). The
// description is copied into the buffer when one is given, cut to its size.
const char* PortTakeNext(char* description = nullptr, size_t size = 0);
