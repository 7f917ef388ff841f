// Shared by the socket class's suites: a main window that records socket notifications and message boxes,
// reserved ports and plain blocking peers on 127.0.0.1.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "net/CSock.h"
#include "platform/window/msgbox.h"
#include "platform/window/window.h"

namespace csock_test {

inline sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// A port on 127.0.0.1 kept for a test while the object lives: its socket is bound but never listens, so
// connections to it are refused and the system gives the port to no one else meanwhile. Bound with
// SO_REUSEADDR, as the socket layer and the test servers bind theirs, so that the test itself can still
// listen on it.
class ReservedPort {
  public:
    ReservedPort() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        const int on = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a = Loopback(0);
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~ReservedPort() { ::close(fd_); }
    ReservedPort(const ReservedPort&) = delete;
    ReservedPort& operator=(const ReservedPort&) = delete;

    std::uint16_t Port() const { return port_; }

  private:
    int fd_;
    std::uint16_t port_ = 0;
};

// Blocking peers with a receive timeout, so that no test can hang on them.
inline void LimitWaits(int fd) {
    timeval wait{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
}

// from: the peer's own address (host order), e.g. 0x7F000002 to connect from 127.0.0.2; 0 lets the system
// choose.
inline int PeerConnect(std::uint16_t port, int rcvbuf = 0, std::uint32_t from = 0) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (rcvbuf > 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    if (from != 0) {
        sockaddr_in own = Loopback(0);
        own.sin_addr.s_addr = htonl(from);
        EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&own), sizeof own), 0);
    }
    sockaddr_in a = Loopback(port);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    LimitWaits(fd);
    return fd;
}

// A plain listening socket on 127.0.0.1; *port receives its port.
inline int PeerListen(std::uint16_t* port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = Loopback(0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd, 8);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    *port = ntohs(a.sin_port);
    LimitWaits(fd);
    return fd;
}

// Reads exactly n bytes from a blocking peer (fewer if it times out or the connection ends).
inline std::vector<std::uint8_t> ReadExactly(int fd, std::size_t n) {
    std::vector<std::uint8_t> out(n);
    std::size_t got = 0;
    while (got < n) {
        ssize_t k = ::recv(fd, out.data() + got, n - got, 0);
        if (k <= 0) break;
        got += static_cast<std::size_t>(k);
    }
    out.resize(got);
    return out;
}

// Closes a peer so that the other end sees a reset (RST) instead of an end of stream.
inline void CloseWithReset(int fd) {
    linger hard{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(fd);
}

inline void WriteAll(int fd, const std::vector<std::uint8_t>& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t k = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        ASSERT_GT(k, 0);
        sent += static_cast<std::size_t>(k);
    }
}

struct Note {
    CSock::SOCKET sock;
    std::int32_t lparam;
};

// The main window of a test: it records every socket notification and hands it to on_socket; message boxes
// are recorded instead of printed. Every socket is released at the end, whatever the test left open.
// The one place for bounded waits on this thread's event loop, shared by every suite's fixture. WaitFor is
// generous: it only bounds how long a failing test waits, and sanitizer builds on a busy machine are slow.
class EventLoopTest : public ::testing::Test {
  protected:
    static bool WaitFor(const std::function<bool()>& done, int ms = 10000) {
        return platform::RunUntil(done, ms);
    }
    // Lets the loop run for a while, for checks that something did not happen.
    static void Settle(int ms = 150) {
        platform::RunUntil([] { return false; }, ms);
    }
};

class LoopbackTest : public EventLoopTest {
  protected:
    void SetUp() override {
        hMainWnd = &window_;
        previous_boxes_ = platform::SetMessageBoxHandler(
            [this](const std::string& text, const std::string&) { boxes_.push_back(text); });
        window_.SetWindowProc([this](platform::HWND, platform::UINT msg, platform::WPARAM wp,
                                     platform::LPARAM lp) -> platform::LRESULT {
            if (msg != platform::WM_SOCKET) return 0;
            const auto sock = static_cast<CSock::SOCKET>(wp);
            notes_.push_back({sock, static_cast<std::int32_t>(lp)});
            if (on_socket_) on_socket_(sock, static_cast<std::int32_t>(lp));
            return 0;
        });
    }
    void TearDown() override {
        for (int fd : peers_) ::close(fd);
        while (winsock::WSACleanup() == 0) {
        }
        hMainWnd = nullptr;
        platform::SetMessageBoxHandler(previous_boxes_);
    }

    int Count(CSock::SOCKET sock, std::int32_t lparam) const {
        int n = 0;
        for (const Note& note : notes_) n += note.sock == sock && note.lparam == lparam;
        return n;
    }
    std::vector<std::int32_t> EventsOf(CSock::SOCKET sock) const {
        std::vector<std::int32_t> out;
        for (const Note& note : notes_) {
            if (note.sock == sock) out.push_back(note.lparam);
        }
        return out;
    }
    int Keep(int fd) {
        peers_.push_back(fd);
        return fd;
    }

    platform::Window window_;
    std::vector<Note> notes_;
    std::vector<std::string> boxes_;
    std::vector<int> peers_;
    std::function<void(CSock::SOCKET, std::int32_t)> on_socket_;
    platform::MessageBoxHandler previous_boxes_;
};

}  // namespace csock_test
