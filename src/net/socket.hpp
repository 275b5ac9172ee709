// Small TCP helpers over the system's sockets (IPv4, stream sockets): open a socket as a
// server or a client, serve a listening socket with one thread per connection, query
// the local address, send and read CR LF terminated text lines, report socket errors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/socket.hpp"

// Receive state of one connection for sockreadline. Each connection owns its own;
// threads never share one.
struct SockLineReader {
    char buffer[1024];
    int position = 0;        // next byte to take from buffer
    int end = 0;             // bytes in buffer
    bool crPending = false;  // a CR was taken but not yet stored: it may start CR LF
    bool closed = false;     // the peer closed the connection or recv failed
    int endResult = 0;       // recv's result at that point: 0 or negative
    bool lfEnds = false;     // a LF alone ends a line as well (clients such as plain nc)
};

// Server (host == nullptr): a socket with SO_REUSEADDR bound to address:port (both in
// host byte order). Client: connects to the first IPv4 address of host at port; the
// address argument is not used. Returns the socket, or kNoSocket (SocketLastError tells
// why).
SocketHandle sockopen(const char* host, uint32_t address, uint16_t port);

using SockHandler = void (*)(SocketHandle socket);

struct SockListenOptions {
    int backlog = 64;
    // Connections served at once; a connection beyond that is accepted and closed at
    // once, so a flood of clients cannot exhaust threads or descriptors.
    int maxConnections = 64;
    // Called once listen() has succeeded, before the first accept.
    std::function<void()> listening;
};

// Listens on the socket and serves every accepted connection on a thread of its own,
// which calls handler(connection) and then closes the connection. Does not return:
// a failing listen(), or an accept() failure that is not a passing condition, is
// reported with sockerror and ends the program with exit code 0.
[[noreturn]] void socklisten(SocketHandle socket, SockHandler handler, const SockListenOptions& options = {});

// Local address and port of the socket, both in network byte order. 0, or -1 after
// sockerror("sockinfo").
int sockinfo(SocketHandle socket, uint32_t* address, uint16_t* port);

// Sends the n bytes followed by CR LF in one send(); returns the bytes sent minus 2,
// or send()'s result when that is 0 or negative. Never raises SIGPIPE.
int socksend(SocketHandle socket, const void* bytes, size_t n);
int socksendstr(SocketHandle socket, const char* text);

// Reads one line ended by CR LF (neither stored; a lone CR or LF is data). Returns the
// length of the line. A line longer than capacity - 1 is cut: the first capacity - 1
// characters come back with the result capacity, the rest with the next call. When the
// peer closes or recv fails: the characters stored so far if any, else 0 (closed) or
// recv's negative result. The line is always terminated.
int sockreadline(SocketHandle socket, char* line, int capacity, SockLineReader& reader);

// Prints prefix, the error code and the socket error text on standard error
// ("%s: (%d) %s"), or prefix and the system's text for an error that is not a socket
// error.
void sockerror(const char* prefix);
