// Sockets on POSIX: descriptors, errno, getaddrinfo.
#include "platform/socket.hpp"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
struct SockErrorRow {
    int error;
    const char* text;
};

// The socket errors with their texts, in the order they are searched. Errors of the
// name resolver have no errno value and no row.
#define SOCKET_ERROR_ROW(name, text) {E##name, text},
const SockErrorRow kSockErrors[] = {
#include "platform/socket_error_rows.inc"
    {EAGAIN, "Resource temporarily unavailable"},
};
#undef SOCKET_ERROR_ROW

int Fd(SocketHandle s) { return static_cast<int>(s); }
}  // namespace

SocketHandle SocketCreate() {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    return s < 0 ? kNoSocket : s;
}

bool SocketConnect(SocketHandle s, const char* host, uint16_t port) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || !found) return false;
    sockaddr_in to{};
    memcpy(&to, found->ai_addr, sizeof to);
    freeaddrinfo(found);
    to.sin_port = htons(port);
    int result;
    do {
        result = connect(Fd(s), reinterpret_cast<sockaddr*>(&to), sizeof to);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

SocketHandle SocketConnectStream(const std::string& host, uint16_t port, uint32_t timeoutMs, std::string& reason) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (int e = getaddrinfo(host.c_str(), service.c_str(), &hints, &found); e != 0 || !found) {
        reason = std::string("the name does not resolve (") + gai_strerror(e) + ")";
        return kNoSocket;
    }
    reason = "no address to connect to";
    int s = -1;
    for (addrinfo* a = found; a; a = a->ai_next) {
        s = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (s < 0) {
            reason = strerror(errno);
            continue;
        }
        // A host that does not answer at all must not hang the open: the connect waits
        // only so long.
        int r = connect(s, a->ai_addr, a->ai_addrlen);
        if (r != 0 && errno == EINPROGRESS) {
            pollfd p{s, POLLOUT, 0};
            do {
                r = poll(&p, 1, static_cast<int>(timeoutMs));
            } while (r < 0 && errno == EINTR);
            int error = 0;
            socklen_t length = sizeof error;
            if (r == 0)
                error = ETIMEDOUT;
            else if (r < 0 || getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
                error = errno;
            errno = error;
            r = error == 0 ? 0 : -1;
        }
        if (r == 0) break;
        reason = strerror(errno);
        close(s);
        s = -1;
    }
    freeaddrinfo(found);
    if (s < 0) return kNoSocket;
    int flags = fcntl(s, F_GETFL);
    fcntl(s, F_SETFL, flags & ~O_NONBLOCK);
    int on = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return s;
}

bool SocketBind(SocketHandle s, uint32_t address, uint16_t port) {
    int on = 1;
    setsockopt(Fd(s), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(address);
    at.sin_port = htons(port);
    return bind(Fd(s), reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
}

bool SocketListen(SocketHandle s, int backlog) { return listen(Fd(s), backlog) == 0; }

AcceptOutcome SocketAccept(SocketHandle s, SocketHandle& connection) {
    int c = accept4(Fd(s), nullptr, nullptr, SOCK_CLOEXEC);
    if (c >= 0) {
        connection = c;
        return AcceptOutcome::Accepted;
    }
    // Failures that concern one connection or a passing lack of resources: the server
    // goes on accepting instead of ending the daemon because of one bad client.
    switch (errno) {
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM: return AcceptOutcome::LacksResources;
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
    case ENETUNREACH: return AcceptOutcome::Passing;
    default: return AcceptOutcome::Failed;
    }
}

long SocketSend(SocketHandle s, const void* bytes, size_t n) {
    ssize_t sent;
    do {
        sent = send(Fd(s), bytes, n, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent;
}

long SocketReceive(SocketHandle s, void* bytes, size_t n) {
    ssize_t got;
    do {
        got = recv(Fd(s), bytes, n, 0);
    } while (got < 0 && errno == EINTR);
    return got;
}

void SocketAcknowledgeNow(SocketHandle s) {
    int on = 1;
    setsockopt(Fd(s), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
}

bool SocketWaitReadable(SocketHandle s, uint32_t timeoutMs) {
    pollfd p{Fd(s), POLLIN, 0};
    int r;
    do {
        r = poll(&p, 1, static_cast<int>(timeoutMs));
    } while (r < 0 && errno == EINTR);
    return r > 0;
}

void SocketClose(SocketHandle s) {
    int error = errno;  // what failed before stays the reason
    close(Fd(s));
    errno = error;
}

bool SocketLocalAddress(SocketHandle s, uint32_t& address, uint16_t& port) {
    sockaddr_in at{};
    socklen_t length = sizeof at;
    if (getsockname(Fd(s), reinterpret_cast<sockaddr*>(&at), &length) != 0) return false;
    address = at.sin_addr.s_addr;
    port = at.sin_port;
    return true;
}

int SocketLastError() { return errno; }
void SocketSetLastError(int error) { errno = error; }
int SocketInvalidArgument() { return EINVAL; }

const char* SocketErrorText(int error) {
    for (const SockErrorRow& row : kSockErrors)
        if (row.error == error) return row.text;
    return nullptr;
}

std::string SocketSystemText(int error) { return strerror(error); }
