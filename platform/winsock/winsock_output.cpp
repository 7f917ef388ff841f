// Sending that never waits: each connection keeps what its socket did not take in a buffer of its own,
// allocated once, and the engine sends it on when the socket becomes writable again (see Interest and
// HandleConnected in winsock_engine.cpp).
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "platform/winsock/winsock_internal.h"

namespace winsock {

using detail::Entry;
using Clock = std::chrono::steady_clock;

namespace detail {

bool HasPendingOutput(const Entry& e) {
    return e.out.Size() > 0;
}

int FlushPendingOutput(Entry& e) {
    PendingOutput& o = e.out;
    while (o.Size() > 0) {
        const ssize_t n = ::send(e.fd, o.bytes.get() + o.begin, static_cast<size_t>(o.Size()), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
            if (errno == EINTR) continue;
            return ErrorFromErrno(errno);
        }
        o.begin += static_cast<int>(n);
        o.last_progress = Clock::now();
    }
    o.begin = o.end = 0;
    return 0;
}

void DropPendingOutput(Entry& e) {
    e.out.begin = e.out.end = 0;
}

}  // namespace detail

namespace {

// Appends bytes behind those pending; the caller has checked that they fit.
void Keep(SOCKET s, Entry& e, const char* data, int len, int capacity) {
    detail::PendingOutput& o = e.out;
    if (!o.bytes) {
        o.bytes = std::make_unique<char[]>(static_cast<std::size_t>(capacity));
        o.capacity = capacity;
    }
    if (o.Size() == 0) {
        o.begin = o.end = 0;
        o.last_progress = Clock::now();
    } else if (o.end + len > o.capacity) {
        std::memmove(o.bytes.get(), o.bytes.get() + o.begin, static_cast<std::size_t>(o.Size()));
        o.end -= o.begin;
        o.begin = 0;
    }
    std::memcpy(o.bytes.get() + o.end, data, static_cast<std::size_t>(len));
    o.end += len;
    detail::Rewatch(s, e);  // watch for room
}

int Room(const Entry& e, int capacity) {
    return (e.out.bytes ? e.out.capacity : capacity) - e.out.Size();
}

}  // namespace

int SendWhole(SOCKET s, const char* buf, int len, int capacity) {
    Entry* e = detail::Find(s);
    if (e == nullptr) return SOCKET_ERROR;
    if (len < 0 || capacity < 0 || (buf == nullptr && len > 0)) return detail::Fail(WSAEFAULT);
    if (e->quiet) return detail::Fail(WSAESHUTDOWN);
    if (detail::HasPendingOutput(*e)) {
        if (len > Room(*e, capacity)) return detail::Fail(WSAENOBUFS);
        Keep(s, *e, buf, len, capacity);
        return 0;
    }
    int sent = 0;
    while (sent < len) {
        const ssize_t n = ::send(e->fd, buf + sent, static_cast<size_t>(len - sent), MSG_NOSIGNAL);
        if (n >= 0) {
            sent += static_cast<int>(n);
            continue;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return detail::FailErrno();
        break;
    }
    if (sent == len) return 0;
    if (len - sent > Room(*e, capacity)) return detail::Fail(WSAENOBUFS);
    Keep(s, *e, buf + sent, len - sent, capacity);
    return 0;
}

int PendingOutputBytes(SOCKET s) {
    Entry* e = detail::Find(s);
    return e == nullptr ? 0 : e->out.Size();
}

int UndeliveredOutputBytes(SOCKET s) {
    Entry* e = detail::Find(s);
    if (e == nullptr) return 0;
    int in_kernel = 0;
    if (::ioctl(e->fd, SIOCOUTQ, &in_kernel) != 0) in_kernel = 0;
    return e->out.Size() + in_kernel;
}

SOCKET FindStalledOutput(int idle_ms) {
    if (!detail::Started()) return 0;
    const auto now = Clock::now();
    for (const auto& [handle, e] : detail::Sockets()) {
        if (detail::HasPendingOutput(e) && now - e.out.last_progress >= std::chrono::milliseconds(idle_ms))
            return handle;
    }
    return 0;
}

bool AnyPendingOutput() {
    if (!detail::Started()) return false;
    for (const auto& [handle, e] : detail::Sockets()) {
        if (detail::HasPendingOutput(e)) return true;
    }
    return false;
}

}  // namespace winsock
