// Winsock's error numbers: the last error of the thread and the translation from POSIX errno values.
#include <cerrno>

#include "platform/winsock/winsock_internal.h"

namespace winsock {
namespace {

thread_local int last_error = 0;

struct ErrorName {
    int wsa;
    const char* text;
};

constexpr ErrorName kErrorNames[] = {
    {WSAEINTR, "interrupted"},
    {WSAEACCES, "permission denied"},
    {WSAEFAULT, "bad address"},
    {WSAEINVAL, "invalid argument"},
    {WSAEMFILE, "too many open sockets"},
    {WSAEWOULDBLOCK, "operation would block"},
    {WSAEALREADY, "operation already in progress"},
    {WSAENOTSOCK, "not a socket"},
    {WSAEMSGSIZE, "message too long"},
    {WSAENOPROTOOPT, "option not supported"},
    {WSAEOPNOTSUPP, "operation not supported"},
    {WSAEAFNOSUPPORT, "address family not supported"},
    {WSAEADDRINUSE, "address already in use"},
    {WSAEADDRNOTAVAIL, "address not available"},
    {WSAENETDOWN, "network is down"},
    {WSAENETUNREACH, "network unreachable"},
    {WSAECONNABORTED, "connection aborted"},
    {WSAECONNRESET, "connection reset by peer"},
    {WSAENOBUFS, "no buffer space"},
    {WSAEISCONN, "already connected"},
    {WSAENOTCONN, "not connected"},
    {WSAESHUTDOWN, "connection shut down"},
    {WSAETIMEDOUT, "connection timed out"},
    {WSAECONNREFUSED, "connection refused"},
    {WSAEHOSTDOWN, "host is down"},
    {WSAEHOSTUNREACH, "host unreachable"},
    {WSASYSNOTREADY, "network system not ready"},
    {WSAVERNOTSUPPORTED, "version not supported"},
    {WSANOTINITIALISED, "Winsock not started"},
    {WSAHOST_NOT_FOUND, "host not found"},
};

}  // namespace

int WSAGetLastError() {
    return last_error;
}
void WSASetLastError(int error) {
    last_error = error;
}

int ErrorFromErrno(int err) {
    switch (err) {
        case 0:
            return 0;
        case EINTR:
            return WSAEINTR;
        case EBADF:
            return WSAENOTSOCK;
        case EACCES:
        case EPERM:
            return WSAEACCES;
        case EFAULT:
            return WSAEFAULT;
        case EINVAL:
            return WSAEINVAL;
        case EMFILE:
        case ENFILE:
            return WSAEMFILE;
        case EAGAIN:
        case EINPROGRESS:
            return WSAEWOULDBLOCK;
        case EALREADY:
            return WSAEALREADY;
        case ENOTSOCK:
            return WSAENOTSOCK;
        case EDESTADDRREQ:
            return WSAEDESTADDRREQ;
        case EMSGSIZE:
            return WSAEMSGSIZE;
        case EPROTOTYPE:
            return WSAEPROTOTYPE;
        case ENOPROTOOPT:
            return WSAENOPROTOOPT;
        case EPROTONOSUPPORT:
            return WSAEPROTONOSUPPORT;
        case ESOCKTNOSUPPORT:
            return WSAESOCKTNOSUPPORT;
        case EOPNOTSUPP:
            return WSAEOPNOTSUPP;
        case EAFNOSUPPORT:
            return WSAEAFNOSUPPORT;
        case EADDRINUSE:
            return WSAEADDRINUSE;
        case EADDRNOTAVAIL:
            return WSAEADDRNOTAVAIL;
        case ENETDOWN:
            return WSAENETDOWN;
        case ENETUNREACH:
            return WSAENETUNREACH;
        case ENETRESET:
            return WSAENETRESET;
        case ECONNABORTED:
        case EPIPE:
            return WSAECONNABORTED;
        case ECONNRESET:
            return WSAECONNRESET;
        case ENOBUFS:
        case ENOMEM:
            return WSAENOBUFS;
        case EISCONN:
            return WSAEISCONN;
        case ENOTCONN:
            return WSAENOTCONN;
        case ESHUTDOWN:
            return WSAESHUTDOWN;
        case ETIMEDOUT:
            return WSAETIMEDOUT;
        case ECONNREFUSED:
            return WSAECONNREFUSED;
        case EHOSTDOWN:
            return WSAEHOSTDOWN;
        case EHOSTUNREACH:
            return WSAEHOSTUNREACH;
        default:
            return WSAEINVAL;
    }
}

const char* DescribeError(int wsa_error) {
    for (const ErrorName& e : kErrorNames) {
        if (e.wsa == wsa_error) return e.text;
    }
    return "network error";
}

namespace detail {

int Fail(int wsa_error) {
    last_error = wsa_error;
    return SOCKET_ERROR;
}

int FailErrno() {
    return Fail(ErrorFromErrno(errno));
}

}  // namespace detail
}  // namespace winsock
