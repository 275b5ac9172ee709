// Sockets on Windows: Winsock 2, started once on first use.
#include "platform/socket.hpp"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>

#include "platform/win32/win32_text.hpp"

namespace {
struct SockErrorRow {
    int error;
    const char* text;
};

// The socket errors with their texts, in the order they are searched.
#define SOCKET_ERROR_ROW(name, text) {WSAE##name, text},
const SockErrorRow kSockErrors[] = {
#include "platform/socket_error_rows.inc"
    {WSAEPROCLIM, "Too many processes"},
    {WSATYPE_NOT_FOUND, "Class type not found"},
    {WSAEWOULDBLOCK, "Resource temporarily unavailable"},
    {WSAHOST_NOT_FOUND, "Host not found"},
    {WSANOTINITIALISED, "Successful WSAStartup not yet performed"},
    {WSANO_DATA, "Valid name; no data record of requested type"},
    {WSANO_RECOVERY, "Non-recoverable error"},
    {WSASYSNOTREADY, "Network subsystem is unavailable"},
    {WSATRY_AGAIN, "Non-authoritative host not found"},
    {WSAVERNOTSUPPORTED, "WINSOCK.DLL version out of range"},
    {WSAEDISCON, "Graceful shutdown in progress"},
};
#undef SOCKET_ERROR_ROW

SOCKET Sock(SocketHandle s) { return static_cast<SOCKET>(s); }

bool Started() {
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
        WSADATA data;
        started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    });
    return started;
}
}  // namespace

SocketHandle SocketCreate() {
    if (!Started()) return kNoSocket;
    // Not inherited: a gang child or the daemon copy must not hold the server's socket.
    SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    return s == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(s);
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
    return connect(Sock(s), reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
}

SocketHandle SocketConnectStream(const std::string& host, uint16_t port, uint32_t timeoutMs, std::string& reason) {
    if (!Started()) {
        reason = SocketSystemText(WSAGetLastError());
        return kNoSocket;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (int e = getaddrinfo(host.c_str(), service.c_str(), &hints, &found); e != 0 || !found) {
        reason = "the name does not resolve (" + SocketSystemText(e) + ")";
        return kNoSocket;
    }
    reason = "no address to connect to";
    SOCKET s = INVALID_SOCKET;
    for (addrinfo* a = found; a; a = a->ai_next) {
        s = WSASocketW(a->ai_family, a->ai_socktype, a->ai_protocol, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
        if (s == INVALID_SOCKET) {
            reason = SocketSystemText(WSAGetLastError());
            continue;
        }
        // A host that does not answer at all must not hang the open: the connect waits
        // only so long.
        u_long nonBlocking = 1;
        ioctlsocket(s, FIONBIO, &nonBlocking);
        int error = 0;
        if (connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0) {
            error = WSAGetLastError();
            if (error == WSAEWOULDBLOCK) {
                WSAPOLLFD p{s, POLLWRNORM, 0};
                int r = WSAPoll(&p, 1, static_cast<INT>(timeoutMs));
                int length = sizeof error;
                if (r == 0)
                    error = WSAETIMEDOUT;
                else if (r < 0 || getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0)
                    error = WSAGetLastError();
            }
        }
        if (error == 0) break;
        const char* text = SocketErrorText(error);
        reason = text ? text : SocketSystemText(error);
        closesocket(s);
        s = INVALID_SOCKET;
    }
    freeaddrinfo(found);
    if (s == INVALID_SOCKET) return kNoSocket;
    u_long blocking = 0;
    ioctlsocket(s, FIONBIO, &blocking);
    BOOL on = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    return static_cast<SocketHandle>(s);
}

bool SocketBind(SocketHandle s, uint32_t address, uint16_t port) {
    // No SO_REUSEADDR: on Windows it would let a second server take the port from the
    // first. Windows binds a port whose earlier connections still wait out TIME_WAIT
    // without it.
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(address);
    at.sin_port = htons(port);
    return bind(Sock(s), reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
}

bool SocketListen(SocketHandle s, int backlog) { return listen(Sock(s), backlog) == 0; }

AcceptOutcome SocketAccept(SocketHandle s, SocketHandle& connection) {
    SOCKET c = accept(Sock(s), nullptr, nullptr);
    if (c != INVALID_SOCKET) {
        SetHandleInformation(reinterpret_cast<HANDLE>(c), HANDLE_FLAG_INHERIT, 0);
        connection = static_cast<SocketHandle>(c);
        return AcceptOutcome::Accepted;
    }
    switch (WSAGetLastError()) {
    case WSAEMFILE:
    case WSAENOBUFS: return AcceptOutcome::LacksResources;
    case WSAEINTR:
    case WSAEWOULDBLOCK:
    case WSAECONNABORTED:
    case WSAECONNRESET:
    case WSAENETDOWN: return AcceptOutcome::Passing;
    default: return AcceptOutcome::Failed;
    }
}

long SocketSend(SocketHandle s, const void* bytes, size_t n) {
    return send(Sock(s), static_cast<const char*>(bytes), static_cast<int>(n), 0);
}

long SocketReceive(SocketHandle s, void* bytes, size_t n) {
    return recv(Sock(s), static_cast<char*>(bytes), static_cast<int>(n), 0);
}

// Windows acknowledges on its own schedule; a socket cannot ask for it at once.
void SocketAcknowledgeNow(SocketHandle) {}

bool SocketWaitReadable(SocketHandle s, uint32_t timeoutMs) {
    WSAPOLLFD p{Sock(s), POLLRDNORM, 0};
    return WSAPoll(&p, 1, static_cast<INT>(timeoutMs)) > 0;
}

void SocketClose(SocketHandle s) {
    int error = WSAGetLastError();  // what failed before stays the reason
    closesocket(Sock(s));
    WSASetLastError(error);
}

bool SocketLocalAddress(SocketHandle s, uint32_t& address, uint16_t& port) {
    sockaddr_in at{};
    int length = sizeof at;
    if (getsockname(Sock(s), reinterpret_cast<sockaddr*>(&at), &length) != 0) return false;
    address = at.sin_addr.s_addr;
    port = at.sin_port;
    return true;
}

int SocketLastError() { return WSAGetLastError(); }
void SocketSetLastError(int error) { WSASetLastError(error); }
int SocketInvalidArgument() { return WSAEINVAL; }

const char* SocketErrorText(int error) {
    for (const SockErrorRow& row : kSockErrors)
        if (row.error == error) return row.text;
    return nullptr;
}

std::string SocketSystemText(int error) { return win32::ErrorText(static_cast<DWORD>(error)); }
