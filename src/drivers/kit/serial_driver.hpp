// What every serial driver shares, filled in from its descriptor: the open (a concrete
// connection string is opened and configured at once, an AUTO string only marks the
// port search pending), the close, and the first step of every connect, which runs a
// pending search or reopens the last candidate of a failed one. The search calls the
// driver's own open, connect and close for every candidate port; inside those calls no
// search is pending and the port is open, so the driver goes straight to its protocol.
#pragma once

struct DriverDescriptor;

bool SerialDriverOpen(const DriverDescriptor& driver, const char* connection);
void SerialDriverClose(const DriverDescriptor& driver);
bool SerialDriverConnect(const DriverDescriptor& driver, const char* key, char* info);
