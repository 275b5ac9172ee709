// What every serial driver shares, filled in from its descriptor: the open (a concrete
// connection string is opened and configured at once, an AUTO string only marks the
// port search pending), the close, the first step of every connect, which runs a
// pending search or reopens the last candidate of a failed one, and the connect loop.
// The search calls the driver's own open, connect and close for every candidate port;
// inside those calls no search is pending and the port is open, so the driver goes
// straight to its protocol.
#pragma once

#include <cstdint>
#include <functional>

struct ConnectCall;
struct DriverDescriptor;

bool SerialDriverOpen(const DriverDescriptor& driver, const char* connection);
void SerialDriverClose(const DriverDescriptor& driver);
// Connects with the driver; a hand-over it makes is left in the call for the caller.
bool SerialDriverConnect(const DriverDescriptor& driver, ConnectCall& call);

// The connect loop: `attempt` until it succeeds, until `timeoutS` seconds have passed
// since the loop began, or until a stop is asked (false then). After every attempt
// that failed, `waiting` (may be empty) learns the milliseconds left.
bool ConnectWait(const std::function<bool()>& attempt, int32_t timeoutS,
                 const std::function<void(int64_t remainingMs)>& waiting = {});
