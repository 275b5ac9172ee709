// Turning a connection string into an open, configured serial port, and closing it.
#pragma once

// Longer strings are refused. Device paths on Linux run long (/dev/serial/by-id/...),
// so the limit is the one of a command line.
constexpr unsigned kMaxConnectionChars = 255;

// Opens and configures the port named by the connection string (null: "COM1" at
// 9600 baud, 8N1). Every failure ends the run with an ERROR or FATAL ERROR message:
// too long a string, a port that cannot be opened, an unknown keyword, a missing
// field. Returns true.
bool OpenInterfaceCom(const char* connection);

// The connection string the open port was configured from ("" while none is open):
// a driver that moves the line to the rate it names later reads it here.
const char* OpenedConnection();

// Closes the port when one is open; otherwise does nothing.
void CloseInterfaceCom();
