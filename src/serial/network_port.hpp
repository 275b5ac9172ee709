// Serial ports behind a network serial server, named by URL in the port field of a
// connection string:
//   rfc2217://HOST:PORT  the telnet COM-PORT-OPTION: the line settings, DTR/RTS and
//                        purges travel to the server, which sets up its serial port;
//   socket://HOST:PORT   raw TCP: bytes only, the line is the server's business.
// HOST is a name, an IPv4 address or a bracketed IPv6 address ([::1]).
#pragma once

#include <string>

namespace serialdev {
class Device;
}

// Whether the port name is such a URL.
bool IsNetworkPortName(const std::string& name);

// The device that opens them.
serialdev::Device& NetworkSerialDevice();
