// The socket table and the notification engine. Every socket that has events registered is in one epoll set,
// edge-triggered, for the conditions of its registered events; the event loop of the window thread watches
// the epoll descriptor. An edge posts a notification only while that notification is armed, and posting
// disarms it, so a socket nobody reads gets one FD_READ and then leaves the loop asleep. Re-arming a
// notification whose condition may still hold (recv that filled its buffer, accept) asks epoll to look
// again, which reports the condition once more if it holds.
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <cerrno>

#include "platform/winsock/winsock_internal.h"

namespace winsock::detail {
namespace {

struct Engine {
    int starts = 0;
    int epfd = -1;
    QPointer<QSocketNotifier> notifier;
    std::unordered_map<SOCKET, Entry> sockets;
    SOCKET next_handle = 1;
};

Engine& TheEngine() {
    static Engine engine;
    return engine;
}

constexpr std::uint32_t kIn = EPOLLIN;
constexpr std::uint32_t kOut = EPOLLOUT;
constexpr std::uint32_t kPeerClosed = EPOLLRDHUP;
constexpr std::uint32_t kTrouble = EPOLLERR | EPOLLHUP;

// The epoll conditions of the registered events, edge-triggered.
// Pending output is sent on whether or not the owner asked for FD_WRITE.
std::uint32_t Interest(const Entry& e) {
    const bool sending_on = e.state == State::kConnected && HasPendingOutput(e);
    if ((e.hwnd == nullptr || e.mask == 0 || e.quiet) && !sending_on) return 0;
    std::uint32_t w = 0;
    switch (e.state) {
        case State::kListening:
            if (e.mask & FD_ACCEPT) w = kIn;
            break;
        case State::kConnecting:
            w = kOut;  // completion, whichever events are registered
            break;
        case State::kConnected:
            if (e.mask & FD_READ) w |= kIn;
            if ((e.mask & FD_WRITE) || sending_on) w |= kOut;
            if (!e.close_done && (e.mask & FD_CLOSE)) w |= kPeerClosed;
            break;
        default:
            break;
    }
    return w == 0 ? 0 : w | EPOLLET;
}

int BytesWaiting(int fd) {
    int n = 0;
    return ioctl(fd, FIONREAD, &n) == 0 ? n : 0;
}

int PendingError(int fd) {
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
    return err;
}

void HandleListening(SOCKET s, Entry& e, std::uint32_t ev) {
    if (!e.accept_armed || !(ev & kIn)) return;
    e.accept_armed = false;
    Post(s, e, FD_ACCEPT, 0);
}

// Sends on what the socket took only in part; a failed connection keeps nothing. Returns the Winsock error
// of a send that failed, else 0.
int SendOnPending(Entry& e, std::uint32_t ev) {
    if (!HasPendingOutput(e) || !(ev & (kOut | kTrouble))) return 0;
    const int error = (ev & kTrouble) ? 0 : FlushPendingOutput(e);
    if ((ev & kTrouble) || error != 0) DropPendingOutput(e);
    return error;
}

void HandleConnected(SOCKET s, Entry& e, std::uint32_t ev) {
    const int send_error = SendOnPending(e, ev);
    const bool ended = (ev & (kPeerClosed | kTrouble)) || send_error != 0;
    // Readable because of an end of stream alone is FD_CLOSE's business, not FD_READ's.
    if (e.read_armed && (e.mask & FD_READ) && (ev & kIn) && (!ended || BytesWaiting(e.fd) > 0)) {
        e.read_armed = false;
        Post(s, e, FD_READ, 0);
    }
    if (e.write_armed && (e.mask & FD_WRITE) && (ev & kOut) && !(ev & kTrouble)) {
        e.write_armed = false;
        Post(s, e, FD_WRITE, 0);
    }
    if (!e.close_done && (e.mask & FD_CLOSE) && ended) {
        e.close_done = true;
        int error = (ev & EPOLLERR) ? ErrorFromErrno(PendingError(e.fd)) : send_error;
        Post(s, e, FD_CLOSE, error);
    }
}

void HandleEvents(SOCKET s, Entry& e, std::uint32_t ev) {
    if (e.state == State::kConnecting) {
        int err = PendingError(e.fd);
        if (err == 0 && !(ev & kOut)) err = ECONNREFUSED;
        ConnectFinished(s, e, err == 0 ? 0 : ErrorFromErrno(err));
        ev &= ~kOut;  // FD_WRITE, if registered, went out with the connect
    }
    if (e.state == State::kListening) HandleListening(s, e, ev);
    if (e.state == State::kConnected) HandleConnected(s, e, ev);
    Rewatch(s, e);
}

void OnReady() {
    Engine& g = TheEngine();
    epoll_event events[64];
    int n = epoll_wait(g.epfd, events, 64, 0);
    for (int i = 0; i < n; ++i) {
        auto it = g.sockets.find(static_cast<SOCKET>(events[i].data.u64));
        if (it != g.sockets.end()) HandleEvents(it->first, it->second, events[i].events);
    }
}

void CloseAll() {
    Engine& g = TheEngine();
    for (auto& [handle, entry] : g.sockets) ::close(entry.fd);
    g.sockets.clear();
}

}  // namespace

bool Started() {
    return TheEngine().starts > 0;
}

Entry* Find(SOCKET s) {
    Engine& g = TheEngine();
    if (g.starts == 0) {
        Fail(WSANOTINITIALISED);
        return nullptr;
    }
    auto it = g.sockets.find(s);
    if (it == g.sockets.end()) {
        Fail(WSAENOTSOCK);
        return nullptr;
    }
    return &it->second;
}

std::unordered_map<SOCKET, Entry>& Sockets() {
    return TheEngine().sockets;
}

SOCKET Add(int fd, Entry entry) {
    Engine& g = TheEngine();
    // Handles count up and are not reused until the count wraps, so a notification still queued for a
    // closed socket never names a newer one.
    while (g.next_handle == 0 || g.next_handle == INVALID_SOCKET || g.sockets.count(g.next_handle)) {
        ++g.next_handle;
    }
    SOCKET s = g.next_handle++;
    Entry& e = g.sockets[s];
    e = std::move(entry);
    e.fd = fd;
    e.watched = 0;
    Rewatch(s, e);
    return s;
}

void Remove(SOCKET s) {
    Engine& g = TheEngine();
    auto it = g.sockets.find(s);
    if (it == g.sockets.end()) return;
    if (it->second.watched != 0) epoll_ctl(g.epfd, EPOLL_CTL_DEL, it->second.fd, nullptr);
    ::close(it->second.fd);
    g.sockets.erase(it);
}

void Rewatch(SOCKET s, Entry& e, bool look_again) {
    const std::uint32_t want = Interest(e);
    if (want == e.watched && !(look_again && want != 0)) return;
    Engine& g = TheEngine();
    if (want == 0) {
        epoll_ctl(g.epfd, EPOLL_CTL_DEL, e.fd, nullptr);
    } else {
        epoll_event ev{};
        ev.events = want;
        ev.data.u64 = s;
        epoll_ctl(g.epfd, e.watched == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, e.fd, &ev);
    }
    e.watched = want;
}

void Post(SOCKET s, const Entry& e, long event, int error) {
    if (e.hwnd == nullptr) return;
    const auto lparam =
        static_cast<std::uint32_t>(event & 0xFFFF) | (static_cast<std::uint32_t>(error) << 16);
    platform::PostMessage(e.hwnd, e.msg, s, static_cast<platform::LPARAM>(static_cast<std::int32_t>(lparam)));
}

void ConnectFinished(SOCKET s, Entry& e, int error) {
    if (error != 0) {
        e.state = State::kFailed;
        if (e.mask & FD_CONNECT) Post(s, e, FD_CONNECT, error);
        Rewatch(s, e);
        return;
    }
    e.state = State::kConnected;
    e.read_armed = true;
    e.write_armed = true;
    if (e.mask & FD_CONNECT) Post(s, e, FD_CONNECT, 0);
    if (e.mask & FD_WRITE) {
        e.write_armed = false;
        Post(s, e, FD_WRITE, 0);
    }
    Rewatch(s, e);
}

bool StartEngine() {
    Engine& g = TheEngine();
    if (g.starts == 0) {
        QCoreApplication* app = QCoreApplication::instance();
        if (app == nullptr) return false;
        g.epfd = epoll_create1(EPOLL_CLOEXEC);
        if (g.epfd < 0) return false;
        // Owned by the application, so that it goes before the event loop does, whatever the program forgets.
        g.notifier = new QSocketNotifier(g.epfd, QSocketNotifier::Read, app);
        QObject::connect(g.notifier.data(), &QSocketNotifier::activated, [] { OnReady(); });
    }
    ++g.starts;
    return true;
}

void StopEngine() {
    Engine& g = TheEngine();
    if (g.starts == 0 || --g.starts > 0) return;
    CloseAll();
    delete g.notifier.data();
    ::close(g.epfd);
    g.epfd = -1;
}

}  // namespace winsock::detail
