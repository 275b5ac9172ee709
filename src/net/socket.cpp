#include "net/socket.hpp"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

#include "base/exit.hpp"
#include "platform/process.hpp"

namespace {
// Takes the next byte of the receive buffer, refilling it with one recv() when it is
// empty. 1: byte delivered (not yet taken); 0: peer closed; negative: recv failed.
int PeekByte(SocketHandle s, SockLineReader& r, char& c) {
    if (r.position >= r.end) {
        if (r.closed) return r.endResult;
        long n = SocketReceive(s, r.buffer, sizeof r.buffer);
        if (n <= 0) {
            r.closed = true;
            r.endResult = static_cast<int>(n);
            return r.endResult;
        }
        r.position = 0;
        r.end = static_cast<int>(n);
    }
    c = r.buffer[r.position];
    return 1;
}
}  // namespace

void sockerror(const char* prefix) {
    int error = SocketLastError();
    if (const char* text = SocketErrorText(error)) fprintf(stderr, "%s: (%d) %s\n", prefix, error, text);
    else fprintf(stderr, "%s: %s\n", prefix, SocketSystemText(error).c_str());
    fflush(stderr);
}

SocketHandle sockopen(const char* host, uint32_t address, uint16_t port) {
    SocketHandle s = SocketCreate();
    if (s == kNoSocket) return kNoSocket;
    if (host ? SocketConnect(s, host, port) : SocketBind(s, address, port)) return s;
    SocketClose(s);
    return kNoSocket;
}

void socklisten(SocketHandle s, SockHandler handler, const SockListenOptions& options) {
    if (!SocketListen(s, options.backlog)) {
        sockerror("socklisten(listen)");
        AppExit(0);
    }
    if (options.listening) options.listening();
    static std::atomic<int> active{0};
    for (;;) {
        SocketHandle connection = kNoSocket;
        switch (SocketAccept(s, connection)) {
        case AcceptOutcome::Accepted: break;
        case AcceptOutcome::Failed:
            sockerror("socklisten(accept)");
            AppExit(0);
        case AcceptOutcome::LacksResources:
            // Out of descriptors or memory: give the open connections time to end.
            SleepMs(50);
            continue;
        case AcceptOutcome::Passing: continue;
        }
        if (active.fetch_add(1) >= options.maxConnections) {
            active.fetch_sub(1);
            SocketClose(connection);
            continue;
        }
        try {
            std::thread([handler, connection]() {
                handler(connection);
                SocketClose(connection);
                active.fetch_sub(1);
            }).detach();
        } catch (const std::system_error&) {
            // No thread to be had: the client sees its connection closed.
            SocketClose(connection);
            active.fetch_sub(1);
        }
    }
}

int sockinfo(SocketHandle s, uint32_t* address, uint16_t* port) {
    if (!SocketLocalAddress(s, *address, *port)) {
        sockerror("sockinfo");
        return -1;
    }
    return 0;
}

int socksend(SocketHandle s, const void* bytes, size_t n) {
    std::vector<char> out(n + 2);
    if (n) memcpy(out.data(), bytes, n);
    out[n] = '\r';
    out[n + 1] = '\n';
    // A client that has gone away must not end the process.
    long sent = SocketSend(s, out.data(), out.size());
    return sent <= 0 ? static_cast<int>(sent) : static_cast<int>(sent) - 2;
}

int socksendstr(SocketHandle s, const char* text) { return socksend(s, text, strlen(text)); }

int sockreadline(SocketHandle s, char* line, int capacity, SockLineReader& r) {
    if (capacity < 2) {
        if (capacity == 1) line[0] = '\0';
        SocketSetLastError(SocketInvalidArgument());
        return -1;
    }
    int stored = 0;
    const int room = capacity - 1;
    for (;;) {
        char c = 0;
        int got = PeekByte(s, r, c);
        if (got <= 0) {
            // A CR at the very end of the data is data.
            if (r.crPending && stored < room) {
                line[stored++] = '\r';
                r.crPending = false;
            }
            line[stored] = '\0';
            return stored > 0 ? stored : got;
        }
        if (r.crPending) {
            if (c == '\n') {
                ++r.position;
                r.crPending = false;
                line[stored] = '\0';
                return stored;
            }
            // The CR was not the start of CR LF: it is stored, the byte after it is
            // looked at again. A full line keeps the CR pending for the next call.
            if (stored == room) break;
            line[stored++] = '\r';
            r.crPending = false;
            continue;
        }
        if (c == '\r') {
            ++r.position;
            r.crPending = true;
            continue;
        }
        if (c == '\n' && r.lfEnds) {
            ++r.position;
            line[stored] = '\0';
            return stored;
        }
        if (stored == room) break;
        line[stored++] = c;
        ++r.position;
    }
    line[stored] = '\0';
    return capacity;
}
