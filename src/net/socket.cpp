#include "net/socket.hpp"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

#include "base/exit.hpp"
#include "platform/process.hpp"

namespace {
struct SockErrorRow {
    int error;
    const char* text;
};

// The socket errors with their texts, in the order they are searched. Errors of the
// name resolver and of a socket-library start-up have no errno value and no row.
const SockErrorRow kSockErrors[] = {
    {EACCES, "Permission denied"},
    {EADDRINUSE, "Address already in use"},
    {EADDRNOTAVAIL, "Cannot assign requested address"},
    {EAFNOSUPPORT, "Address family not supported by protocol family"},
    {EALREADY, "Operation already in progress"},
    {ECONNABORTED, "Software caused connection abort"},
    {ECONNREFUSED, "Connection refused"},
    {ECONNRESET, "Connection reset by peer"},
    {EDESTADDRREQ, "Destination address required"},
    {EFAULT, "Bad address"},
    {EHOSTDOWN, "Host is down"},
    {EHOSTUNREACH, "No route to host"},
    {EINPROGRESS, "Operation now in progress"},
    {EINTR, "Interrupted function call"},
    {EINVAL, "Invalid argument"},
    {EISCONN, "Socket is already connected"},
    {EMFILE, "Too many open files"},
    {EMSGSIZE, "Message too long"},
    {ENETDOWN, "Network is down"},
    {ENETRESET, "Network dropped connection on reset"},
    {ENETUNREACH, "Network is unreachable"},
    {ENOBUFS, "No buffer space available"},
    {ENOPROTOOPT, "Bad protocol option"},
    {ENOTCONN, "Socket is not connected"},
    {ENOTSOCK, "Socket operation on non-socket"},
    {EOPNOTSUPP, "Operation not supported"},
    {EPFNOSUPPORT, "Protocol family not supported"},
    {EPROTONOSUPPORT, "Protocol not supported"},
    {EPROTOTYPE, "Protocol wrong type for socket"},
    {ESHUTDOWN, "Cannot send after socket shutdown"},
    {ESOCKTNOSUPPORT, "Socket type not supported"},
    {ETIMEDOUT, "Connection timed out"},
    {EAGAIN, "Resource temporarily unavailable"},
};

// accept() failures that concern one connection or a passing lack of resources: the
// server goes on accepting instead of ending the daemon because of one bad client.
bool AcceptErrorPasses(int error) {
    switch (error) {
    case EINTR:
    case EAGAIN:
    case ECONNABORTED:
    case EPROTO:
    case EPERM:
    case ENETDOWN:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case ENONET:
    case EHOSTUNREACH:
    case EOPNOTSUPP:
    case ENETUNREACH:
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
        return true;
    default:
        return false;
    }
}

bool LacksResources(int error) { return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM; }

int ConnectTo(int s, const char* host, uint16_t port) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || !found) return -1;
    sockaddr_in to{};
    memcpy(&to, found->ai_addr, sizeof to);
    freeaddrinfo(found);
    to.sin_port = htons(port);
    int result;
    do {
        result = connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to);
    } while (result != 0 && errno == EINTR);
    return result;
}

// Takes the next byte of the receive buffer, refilling it with one recv() when it is
// empty. 1: byte delivered (not yet taken); 0: peer closed; negative: recv failed.
int PeekByte(int s, SockLineReader& r, char& c) {
    if (r.position >= r.end) {
        if (r.closed) return r.endResult;
        ssize_t n;
        do {
            n = recv(s, r.buffer, sizeof r.buffer, 0);
        } while (n < 0 && errno == EINTR);
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

const char* SockErrorText(int error) {
    for (const SockErrorRow& row : kSockErrors)
        if (row.error == error) return row.text;
    return nullptr;
}

void sockerror(const char* prefix) {
    int error = errno;
    if (const char* text = SockErrorText(error)) fprintf(stderr, "%s: (%d) %s\n", prefix, error, text);
    else perror(prefix);
    fflush(stderr);
}

int sockopen(const char* host, uint32_t address, uint16_t port) {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return -1;
    if (host) {
        if (ConnectTo(s, host, port) == 0) return s;
    } else {
        int on = 1;
        setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(address);
        at.sin_port = htons(port);
        if (bind(s, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0) return s;
    }
    int error = errno;
    close(s);
    errno = error;
    return -1;
}

void socklisten(int s, SockHandler handler, const SockListenOptions& options) {
    if (listen(s, options.backlog) != 0) {
        sockerror("socklisten(listen)");
        AppExit(0);
    }
    if (options.listening) options.listening();
    static std::atomic<int> active{0};
    for (;;) {
        int connection = accept4(s, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            int error = errno;
            if (!AcceptErrorPasses(error)) {
                sockerror("socklisten(accept)");
                AppExit(0);
            }
            // Out of descriptors or memory: give the open connections time to end.
            if (LacksResources(error)) SleepMs(50);
            continue;
        }
        if (active.fetch_add(1) >= options.maxConnections) {
            active.fetch_sub(1);
            close(connection);
            continue;
        }
        try {
            std::thread([handler, connection]() {
                handler(connection);
                close(connection);
                active.fetch_sub(1);
            }).detach();
        } catch (const std::system_error&) {
            // No thread to be had: the client sees its connection closed.
            close(connection);
            active.fetch_sub(1);
        }
    }
}

int sockinfo(int s, uint32_t* address, uint16_t* port) {
    sockaddr_in at{};
    socklen_t length = sizeof at;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&at), &length) != 0) {
        sockerror("sockinfo");
        return -1;
    }
    *address = at.sin_addr.s_addr;
    *port = at.sin_port;
    return 0;
}

int socksend(int s, const void* bytes, size_t n) {
    std::vector<char> out(n + 2);
    if (n) memcpy(out.data(), bytes, n);
    out[n] = '\r';
    out[n + 1] = '\n';
    // A client that has gone away must not end the process with SIGPIPE.
    ssize_t sent;
    do {
        sent = send(s, out.data(), out.size(), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent <= 0 ? static_cast<int>(sent) : static_cast<int>(sent) - 2;
}

int socksendstr(int s, const char* text) { return socksend(s, text, strlen(text)); }

int sockreadline(int s, char* line, int capacity, SockLineReader& r) {
    if (capacity < 2) {
        if (capacity == 1) line[0] = '\0';
        errno = EINVAL;
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
