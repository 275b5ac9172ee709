// The host system's TCP/IP sockets (IPv4 stream sockets): what the socket helpers and
// the daemon's command server are built on. Errors are the system's codes (errno on
// POSIX, the socket library's codes on Windows), read with SocketLastError.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A socket as the system knows it (a descriptor on POSIX, a SOCKET on Windows).
using SocketHandle = intptr_t;
constexpr SocketHandle kNoSocket = -1;

// A new TCP socket (the socket library started on first use); kNoSocket on failure.
SocketHandle SocketCreate();
// Connects to the first IPv4 address of `host` (a name or a dotted address).
bool SocketConnect(SocketHandle socket, const char* host, uint16_t port);
// A TCP connection to host:port (a name, an IPv4 address, or an IPv6 address without
// brackets), each address the name resolves to tried in turn for at most timeoutMs;
// small writes go out at once (no coalescing delay). kNoSocket on failure, with the
// reason in words ("Connection refused", "the name does not resolve (...)").
SocketHandle SocketConnectStream(const std::string& host, uint16_t port, uint32_t timeoutMs, std::string& reason);
// Binds to address:port (host byte order), the address reusable at once.
bool SocketBind(SocketHandle socket, uint32_t address, uint16_t port);
bool SocketListen(SocketHandle socket, int backlog);

enum class AcceptOutcome {
    Accepted,
    Passing,         // one connection failed or a signal came: go on accepting
    LacksResources,  // out of descriptors or memory for now: go on after a pause
    Failed,          // the listening socket is broken
};
AcceptOutcome SocketAccept(SocketHandle socket, SocketHandle& connection);

// Sends or receives once (interrupted calls are repeated); the count, 0 when the peer
// closed (receive), or a negative value on failure. Sending never raises a signal.
long SocketSend(SocketHandle socket, const void* bytes, size_t n);
long SocketReceive(SocketHandle socket, void* bytes, size_t n);
// Acknowledges what was received at once rather than after the usual delay (where the
// system can): a peer whose next small write waits for that acknowledgement sends it
// without the delay.
void SocketAcknowledgeNow(SocketHandle socket);
// Waits up to timeoutMs for bytes (or the peer's close) to read.
bool SocketWaitReadable(SocketHandle socket, uint32_t timeoutMs);
void SocketClose(SocketHandle socket);

// The local address and port, both in network byte order.
bool SocketLocalAddress(SocketHandle socket, uint32_t& address, uint16_t& port);

// The code of the last failed socket call, and the code a call with a bad argument
// leaves (what a helper reports for a misuse of its own).
int SocketLastError();
void SocketSetLastError(int error);
int SocketInvalidArgument();
// The socket error text of a code ("Connection refused"), null for a code that is no
// socket error; and the system's text for any code.
const char* SocketErrorText(int error);
std::string SocketSystemText(int error);
