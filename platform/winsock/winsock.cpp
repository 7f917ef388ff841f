// The Winsock calls on POSIX sockets. Every socket is non-blocking from its creation; the calls re-arm the
// notifications as Winsock's do (recv re-arms FD_READ, accept FD_ACCEPT, a blocked send FD_WRITE).
#include "platform/winsock/winsock.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/winsock/winsock_internal.h"

namespace winsock {

using detail::Entry;
using detail::Fail;
using detail::FailErrno;
using detail::Find;
using detail::Rewatch;
using detail::State;

namespace {

constexpr WORD kVersion = 0x0101;
// Winsock 1.1 keeps at least a few pending connections whatever backlog is asked for; Linux would keep one.
constexpr int kMinimumBacklog = 5;

SOCKET FailSocket(int wsa_error) {
    Fail(wsa_error);
    return INVALID_SOCKET;
}

// Linux lets a TCP socket bind to a broadcast or multicast address, where nobody can reach it; Winsock
// refuses such an address, and so do we.
bool IsBroadcastOrMulticast(const SOCKADDR* name, int namelen) {
    if (name->sa_family != AF_INET || namelen < static_cast<int>(sizeof(SOCKADDR_IN))) return false;
    const std::uint32_t a = ntohl(reinterpret_cast<const SOCKADDR_IN*>(name)->sin_addr.s_addr);
    return a == 0xFFFFFFFFu || (a >> 28) == 0xE;
}

bool IsConnectFailure(int err) {
    switch (err) {
        case ECONNREFUSED:
        case ENETUNREACH:
        case EHOSTUNREACH:
        case ETIMEDOUT:
        case EACCES:
        case EPERM:
        case EADDRNOTAVAIL:
        case ECONNRESET:
            return true;
        default:
            return false;
    }
}

// An option value of 1, 2 or 4 bytes, read as Winsock reads a BOOL or int option.
bool ReadIntOption(const char* optval, int optlen, int* value) {
    switch (optlen) {
        case 1:
            *value = static_cast<signed char>(optval[0]);
            return true;
        case 2: {
            std::int16_t v;
            std::memcpy(&v, optval, 2);
            *value = v;
            return true;
        }
        case 4:
            std::memcpy(value, optval, 4);
            return true;
        default:
            return false;
    }
}

}  // namespace

int WSAStartup(WORD wVersionRequested, WSADATA* lpWSAData) {
    if ((wVersionRequested & 0xFF) < 1) return WSAVERNOTSUPPORTED;
    if (!detail::StartEngine()) return WSASYSNOTREADY;
    if (lpWSAData != nullptr) {
        std::memset(lpWSAData, 0, sizeof *lpWSAData);
        lpWSAData->wVersion = kVersion;
        lpWSAData->wHighVersion = kVersion;
        std::strcpy(lpWSAData->szDescription, "POSIX sockets");
        std::strcpy(lpWSAData->szSystemStatus, "Running");
        lpWSAData->iMaxSockets = 1024;
    }
    return 0;
}

int WSACleanup() {
    if (!detail::Started()) return Fail(WSANOTINITIALISED);
    detail::StopEngine();
    return 0;
}

SOCKET socket(int af, int type, int protocol) {
    if (!detail::Started()) return FailSocket(WSANOTINITIALISED);
    int fd = ::socket(af, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
    if (fd < 0) return FailSocket(ErrorFromErrno(errno));
    // Windows binds a listening port even while old connections of it linger in TIME_WAIT; on Linux this
    // needs SO_REUSEADDR, which (unlike Windows') never lets two sockets listen on one port.
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    return detail::Add(fd, Entry{});
}

int bind(SOCKET s, const SOCKADDR* name, int namelen) {
    Entry* e = Find(s);
    if (e == nullptr) return SOCKET_ERROR;
    if (name == nullptr || namelen < 0) return Fail(WSAEFAULT);
    if (IsBroadcastOrMulticast(name, namelen)) return Fail(WSAEADDRNOTAVAIL);
    if (::bind(e->fd, name, static_cast<socklen_t>(namelen)) != 0) return FailErrno();
    return 0;
}

int listen(SOCKET s, int backlog) {
    Entry* e = Find(s);
    if (e == nullptr) return SOCKET_ERROR;
    if (::listen(e->fd, std::max(backlog, kMinimumBacklog)) != 0) return FailErrno();
    e->state = State::kListening;
    e->accept_armed = true;
    Rewatch(s, *e);
    return 0;
}

SOCKET accept(SOCKET s, SOCKADDR* addr, int* addrlen) {
    Entry* e = Find(s);
    if (e == nullptr) return INVALID_SOCKET;
    socklen_t len = addrlen != nullptr ? static_cast<socklen_t>(*addrlen) : 0;
    int fd = ::accept4(e->fd, addr, addr != nullptr ? &len : nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    const int err = errno;
    e->accept_armed = true;  // any accept re-arms FD_ACCEPT; another connection may be waiting already
    Rewatch(s, *e, fd >= 0);
    if (fd < 0) return FailSocket(ErrorFromErrno(err));
    if (addrlen != nullptr) *addrlen = static_cast<int>(len);
    // An accepted socket carries the listening socket's registration, as in Winsock.
    Entry child;
    child.state = State::kConnected;
    child.hwnd = e->hwnd;
    child.msg = e->msg;
    child.mask = e->mask;
    child.read_armed = true;
    child.write_armed = true;
    return detail::Add(fd, std::move(child));
}

int connect(SOCKET s, const SOCKADDR* name, int namelen) {
    Entry* e = Find(s);
    if (e == nullptr) return SOCKET_ERROR;
    if (name == nullptr || namelen < 0) return Fail(WSAEFAULT);
    if (::connect(e->fd, name, static_cast<socklen_t>(namelen)) == 0) {
        detail::ConnectFinished(s, *e, 0);
        return 0;
    }
    const int err = errno;
    if (err == EINPROGRESS) {
        e->state = State::kConnecting;
        Rewatch(s, *e);
        return Fail(WSAEWOULDBLOCK);
    }
    // A registered socket learns the outcome of its connect from FD_CONNECT alone, even when Linux knows
    // it at once (an unreachable network).
    if (IsConnectFailure(err) && (e->mask & FD_CONNECT) && e->hwnd != nullptr) {
        detail::ConnectFinished(s, *e, ErrorFromErrno(err));
        return Fail(WSAEWOULDBLOCK);
    }
    return Fail(ErrorFromErrno(err));
}

int send(SOCKET s, const char* buf, int len, int flags) {
    Entry* e = Find(s);
    if (e == nullptr) return SOCKET_ERROR;
    if (len < 0 || (buf == nullptr && len > 0)) return Fail(WSAEFAULT);
    ssize_t n = ::send(e->fd, buf, static_cast<size_t>(len), flags | MSG_NOSIGNAL);
    if (n >= 0) return static_cast<int>(n);
    const int err = errno;
    if (err == EAGAIN || err == EWOULDBLOCK) {
        e->write_armed = true;  // FD_WRITE when room comes back
    }
    return Fail(ErrorFromErrno(err));
}

int recv(SOCKET s, char* buf, int len, int flags) {
    Entry* e = Find(s);
    if (e == nullptr) return SOCKET_ERROR;
    if (len < 0 || (buf == nullptr && len > 0)) return Fail(WSAEFAULT);
    ssize_t n = ::recv(e->fd, buf, static_cast<size_t>(len), flags);
    const int err = errno;
    // Any recv re-arms FD_READ, even one that fails; one that filled its buffer may have left bytes behind.
    e->read_armed = true;
    if (n > 0 && n == len) Rewatch(s, *e, true);
    if (n >= 0) return static_cast<int>(n);
    return Fail(ErrorFromErrno(err));
}

int shutdown(SOCKET s, int how) {
    Entry* e = Find(s);
    if (e == nullptr) return SOCKET_ERROR;
    if (how < SD_RECEIVE || how > SD_BOTH) return Fail(WSAEINVAL);
    int r = ::shutdown(e->fd, how == SD_RECEIVE ? SHUT_RD : how == SD_SEND ? SHUT_WR : SHUT_RDWR);
    const int err = errno;
    // Our own shutdown is no close by the peer: no FD_CLOSE follows it. Bytes still pending cannot go out.
    if (how != SD_SEND) e->close_done = true;
    if (how != SD_RECEIVE) detail::DropPendingOutput(*e);
    if (how == SD_BOTH) e->quiet = true;
    Rewatch(s, *e);
    return r == 0 ? 0 : Fail(ErrorFromErrno(err));
}

int closesocket(SOCKET s) {
    if (Find(s) == nullptr) return SOCKET_ERROR;
    detail::Remove(s);
    return 0;
}

int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen) {
    Entry* e = Find(s);
    if (e == nullptr) return SOCKET_ERROR;
    if (optval == nullptr || optlen <= 0) return Fail(WSAEFAULT);
    int value = 0;
    int r = ReadIntOption(optval, optlen, &value)
                ? ::setsockopt(e->fd, level, optname, &value, sizeof value)
                : ::setsockopt(e->fd, level, optname, optval, static_cast<socklen_t>(optlen));
    return r == 0 ? 0 : FailErrno();
}

int getsockname(SOCKET s, SOCKADDR* name, int* namelen) {
    Entry* e = Find(s);
    if (e == nullptr) return SOCKET_ERROR;
    if (name == nullptr || namelen == nullptr) return Fail(WSAEFAULT);
    socklen_t len = static_cast<socklen_t>(*namelen);
    if (::getsockname(e->fd, name, &len) != 0) return FailErrno();
    *namelen = static_cast<int>(len);
    return 0;
}

int WSAAsyncSelect(SOCKET s, platform::HWND hWnd, platform::UINT wMsg, long lEvent) {
    Entry* e = Find(s);
    if (e == nullptr) return SOCKET_ERROR;
    if (lEvent != 0 && hWnd == nullptr) return Fail(WSAEINVAL);
    e->hwnd = lEvent != 0 ? hWnd : nullptr;
    e->msg = wMsg;
    e->mask = lEvent;
    // A new registration arms every event again; what already holds is posted as soon as the loop looks.
    e->read_armed = true;
    e->accept_armed = true;
    e->write_armed = e->state == State::kConnected;
    Rewatch(s, *e, true);
    return 0;
}

int ReportBroken(SOCKET s, int reason) {
    Entry* e = Find(s);
    if (e == nullptr) return SOCKET_ERROR;
    if (reason == 0) return Fail(WSAEINVAL);
    ::shutdown(e->fd, SHUT_RDWR);
    detail::DropPendingOutput(*e);
    if (e->broken_reason == 0) e->broken_reason = reason;
    const bool notify = !e->close_done && !e->quiet && (e->mask & FD_CLOSE);
    e->close_done = true;
    e->quiet = true;
    Rewatch(s, *e);
    if (notify) detail::Post(s, *e, FD_CLOSE, 0);
    return 0;
}

int BrokenReason(SOCKET s) {
    Entry* e = Find(s);
    return e == nullptr ? 0 : e->broken_reason;
}

}  // namespace winsock
