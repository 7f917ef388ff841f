// The Winsock-shaped layer: its notification rules over loopback, with the real window-thread loop. The far
// ends are plain blocking POSIX sockets, so that a test controls exactly what the peer does.
#include "platform/winsock/winsock.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <utility>
#include <vector>

#include "csock_test_util.h"
#include "platform/window/window.h"

using namespace platform;
namespace ws = winsock;
using csock_test::Loopback;

namespace {

// A plain blocking peer connected to 127.0.0.1:port, optionally with a small receive buffer.
int PeerConnect(std::uint16_t port, int rcvbuf = 0) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (rcvbuf > 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
    sockaddr_in a = Loopback(port);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    return fd;
}

// Reads everything the peer has been sent until nothing more comes for a moment; returns the byte count.
long Drain(int peer) {
    timeval wait{0, 300000};
    ::setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    std::vector<char> sink(65536);
    long got = 0;
    for (int i = 0; i < 100000; ++i) {
        ssize_t n = ::recv(peer, sink.data(), sink.size(), 0);
        if (n <= 0) break;
        got += n;
    }
    return got;
}

double ThreadCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

class WinsockTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(ws::WSAStartup(0x0101, &data_), 0);
        window_.SetWindowProc([this](HWND, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
            if (msg == WM_SOCKET) seen_.emplace_back(static_cast<ws::SOCKET>(wp), lp);
            return 0;
        });
    }
    void TearDown() override {
        for (int fd : peers_) ::close(fd);
        while (ws::WSACleanup() == 0) {  // every socket goes before the window it reports to
        }
    }

    // A listening socket on 127.0.0.1 with a free port, registered for FD_ACCEPT.
    ws::SOCKET Listen() {
        ws::SOCKET s = ws::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = Loopback(0);
        EXPECT_EQ(ws::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(ws::listen(s, 0), 0);
        int len = sizeof a;
        ws::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        EXPECT_EQ(ws::WSAAsyncSelect(s, &window_, WM_SOCKET, ws::FD_ACCEPT), 0);
        return s;
    }

    // An accepted socket registered for events, and its plain peer.
    std::pair<ws::SOCKET, int> Pair(long events, int peer_rcvbuf = 0) {
        ws::SOCKET l = Listen();
        int peer = PeerConnect(port_, peer_rcvbuf);
        peers_.push_back(peer);
        EXPECT_TRUE(RunUntil([&] { return Count(l, ws::FD_ACCEPT) == 1; }, 2000));
        ws::SOCKET s = ws::accept(l, nullptr, nullptr);
        EXPECT_EQ(ws::WSAAsyncSelect(s, &window_, WM_SOCKET, events), 0);
        ws::closesocket(l);
        seen_.clear();
        return {s, peer};
    }

    int Count(ws::SOCKET s, long lparam) const {
        int n = 0;
        for (const auto& [sock, lp] : seen_) n += (sock == s && lp == lparam);
        return n;
    }
    std::vector<LPARAM> EventsOf(ws::SOCKET s) const {
        std::vector<LPARAM> out;
        for (const auto& [sock, lp] : seen_) {
            if (sock == s) out.push_back(lp);
        }
        return out;
    }
    // Lets the loop run for a while so that anything wrongly posted would show.
    void Settle(int ms = 150) {
        RunUntil([] { return false; }, ms);
    }

    ws::WSADATA data_{};
    Window window_;
    std::vector<std::pair<ws::SOCKET, LPARAM>> seen_;
    std::vector<int> peers_;
    std::uint16_t port_ = 0;
};

TEST_F(WinsockTest, ReadIsPostedOncePerArrivalAndAnUnreadSocketLeavesTheProcessIdle) {
    auto [s, peer] = Pair(ws::FD_READ | ws::FD_CLOSE);
    ASSERT_EQ(::send(peer, "abcdefgh", 8, 0), 8);
    ASSERT_TRUE(RunUntil([&] { return Count(s, ws::FD_READ) == 1; }, 2000));

    // Nobody reads: more data arrives, yet no further message is delivered and the thread sleeps.
    ASSERT_EQ(::send(peer, "ijkl", 4, 0), 4);
    const std::uint64_t delivered = window_.DeliveredCount();
    const double cpu = ThreadCpuSeconds();
    Settle(500);
    EXPECT_EQ(window_.DeliveredCount(), delivered);
    EXPECT_LT(ThreadCpuSeconds() - cpu, 0.25) << "the loop spins on an unread socket";

    // A recv that leaves bytes behind re-arms FD_READ at once; one that empties the socket waits for more.
    char buf[16];
    EXPECT_EQ(ws::recv(s, buf, 5, 0), 5);
    ASSERT_TRUE(RunUntil([&] { return Count(s, ws::FD_READ) == 2; }, 2000));
    EXPECT_EQ(ws::recv(s, buf, sizeof buf, 0), 7);
    Settle();
    EXPECT_EQ(Count(s, ws::FD_READ), 2);
    EXPECT_EQ(ws::recv(s, buf, sizeof buf, 0), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEWOULDBLOCK);
    ASSERT_EQ(::send(peer, "m", 1, 0), 1);
    ASSERT_TRUE(RunUntil([&] { return Count(s, ws::FD_READ) == 3; }, 2000));
}

TEST_F(WinsockTest, AcceptIsRearmedByAccept) {
    ws::SOCKET l = Listen();
    peers_.push_back(PeerConnect(port_));
    peers_.push_back(PeerConnect(port_));
    ASSERT_TRUE(RunUntil([&] { return Count(l, ws::FD_ACCEPT) == 1; }, 2000));
    Settle();
    EXPECT_EQ(Count(l, ws::FD_ACCEPT), 1) << "a second pending connection waits for accept";

    sockaddr_in peer{};
    int len = sizeof peer;
    ws::SOCKET a = ws::accept(l, reinterpret_cast<sockaddr*>(&peer), &len);
    EXPECT_NE(a, ws::INVALID_SOCKET);
    EXPECT_EQ(len, static_cast<int>(sizeof peer));
    EXPECT_EQ(peer.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    ASSERT_TRUE(RunUntil([&] { return Count(l, ws::FD_ACCEPT) == 2; }, 2000));
    EXPECT_NE(ws::accept(l, nullptr, nullptr), ws::INVALID_SOCKET);
    Settle();
    EXPECT_EQ(Count(l, ws::FD_ACCEPT), 2);
    EXPECT_EQ(ws::accept(l, nullptr, nullptr), ws::INVALID_SOCKET);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEWOULDBLOCK);
}

TEST_F(WinsockTest, ConnectIsPostedOnceAndWriteFollowsTheRegistrationForData) {
    ws::SOCKET l = Listen();
    ws::SOCKET c = ws::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(ws::WSAAsyncSelect(c, &window_, WM_SOCKET, ws::FD_CONNECT), 0);
    sockaddr_in a = Loopback(port_);
    EXPECT_EQ(ws::connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEWOULDBLOCK);
    ASSERT_TRUE(RunUntil([&] { return Count(c, ws::FD_CONNECT) == 1; }, 2000));

    // As the receivers do on FD_CONNECT: register for data; the connected socket gets one FD_WRITE.
    ASSERT_EQ(ws::WSAAsyncSelect(c, &window_, WM_SOCKET, ws::FD_READ | ws::FD_WRITE | ws::FD_CLOSE), 0);
    ASSERT_TRUE(RunUntil([&] { return Count(c, ws::FD_WRITE) == 1; }, 2000));
    EXPECT_EQ(ws::send(c, "x", 1, 0), 1);
    Settle();
    EXPECT_EQ(EventsOf(c), (std::vector<LPARAM>{ws::FD_CONNECT, ws::FD_WRITE}));
    EXPECT_EQ(Count(l, ws::FD_ACCEPT), 1);
}

TEST_F(WinsockTest, RefusedConnectCarriesTheErrorInTheHighWordOnce) {
    ws::SOCKET c = ws::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(ws::WSAAsyncSelect(c, &window_, WM_SOCKET, ws::FD_CONNECT), 0);
    const csock_test::ReservedPort nobody;  // nothing listens there
    sockaddr_in a = Loopback(nobody.Port());
    ws::connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ASSERT_TRUE(RunUntil([&] { return !EventsOf(c).empty(); }, 2000));
    Settle();
    EXPECT_EQ(EventsOf(c), (std::vector<LPARAM>{16 | (10061 << 16)}));
}

TEST_F(WinsockTest, WriteIsPostedAgainOnlyAfterASendWouldBlockAndRoomCameBack) {
    auto [s, peer] = Pair(ws::FD_READ | ws::FD_WRITE | ws::FD_CLOSE, 4096);
    ASSERT_TRUE(RunUntil([&] { return Count(s, ws::FD_WRITE) == 1; }, 2000));
    const std::int16_t small = 4096;  // a two-byte value, as the programs pass their options
    ws::setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&small), 2);

    std::vector<char> chunk(8192, 'z');
    long sent = 0;
    bool blocked = false;
    for (int i = 0; i < 10000 && !blocked; ++i) {
        int n = ws::send(s, chunk.data(), static_cast<int>(chunk.size()), 0);
        if (n > 0) sent += n;
        blocked = n == ws::SOCKET_ERROR && ws::WSAGetLastError() == ws::WSAEWOULDBLOCK;
    }
    ASSERT_TRUE(blocked);
    Settle();
    EXPECT_EQ(Count(s, ws::FD_WRITE), 1) << "no FD_WRITE while the peer takes nothing";

    EXPECT_EQ(Drain(peer), sent);
    ASSERT_TRUE(RunUntil([&] { return Count(s, ws::FD_WRITE) == 2; }, 2000));
    Settle();
    EXPECT_EQ(Count(s, ws::FD_WRITE), 2);
}

TEST_F(WinsockTest, PeerCloseIsPostedOnceEvenWithUnreadData) {
    auto [s, peer] = Pair(ws::FD_READ | ws::FD_CLOSE);
    ASSERT_EQ(::send(peer, "last words", 10, 0), 10);
    ::close(peer);
    peers_.clear();
    ASSERT_TRUE(RunUntil([&] { return Count(s, ws::FD_CLOSE) == 1; }, 2000));
    const std::uint64_t delivered = window_.DeliveredCount();
    Settle(300);
    EXPECT_EQ(EventsOf(s), (std::vector<LPARAM>{ws::FD_READ, ws::FD_CLOSE}));
    EXPECT_EQ(window_.DeliveredCount(), delivered);

    char buf[32];
    EXPECT_EQ(ws::recv(s, buf, sizeof buf, 0), 10) << "the data is still there after FD_CLOSE";
    EXPECT_EQ(ws::recv(s, buf, sizeof buf, 0), 0);
    Settle();
    EXPECT_EQ(Count(s, ws::FD_CLOSE), 1);
}

TEST_F(WinsockTest, PeerResetIsPostedOnceWithConnectionReset) {
    auto [s, peer] = Pair(ws::FD_READ | ws::FD_CLOSE);
    linger hard{1, 0};
    ::setsockopt(peer, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(peer);
    peers_.clear();
    ASSERT_TRUE(RunUntil([&] { return !EventsOf(s).empty(); }, 2000));
    Settle();
    EXPECT_EQ(EventsOf(s), (std::vector<LPARAM>{32 | (10054 << 16)}));
}

TEST_F(WinsockTest, NoCloseIsPostedAfterOurOwnShutdownOrClosesocket) {
    auto [closed, peer1] = Pair(ws::FD_READ | ws::FD_CLOSE);
    auto [shut, peer2] = Pair(ws::FD_READ | ws::FD_CLOSE);
    EXPECT_EQ(ws::closesocket(closed), 0);
    EXPECT_EQ(ws::shutdown(shut, ws::SD_BOTH), 0);
    ::close(peer1);
    ::close(peer2);
    peers_.clear();
    Settle(300);
    EXPECT_TRUE(EventsOf(closed).empty());
    EXPECT_TRUE(EventsOf(shut).empty());
    EXPECT_EQ(ws::recv(closed, nullptr, 0, 0), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAENOTSOCK);
}

TEST_F(WinsockTest, ABrokenConnectionGetsOnePlainCloseAndItsPeerSeesTheEnd) {
    auto [s, peer] = Pair(ws::FD_READ | ws::FD_CLOSE);
    EXPECT_EQ(ws::BrokenReason(s), 0);
    EXPECT_EQ(ws::ReportBroken(s, 0), ws::SOCKET_ERROR) << "a broken connection needs a reason";
    EXPECT_EQ(ws::ReportBroken(s, 7), 0);
    ASSERT_TRUE(RunUntil([&] { return Count(s, ws::FD_CLOSE) == 1; }, 2000));
    char c;
    EXPECT_EQ(::recv(peer, &c, 1, 0), 0);
    EXPECT_EQ(ws::send(s, "x", 1, 0), ws::SOCKET_ERROR);
    ws::ReportBroken(s, 3);
    Settle();
    EXPECT_EQ(EventsOf(s), (std::vector<LPARAM>{ws::FD_CLOSE}));
    EXPECT_EQ(ws::BrokenReason(s), 7) << "the first reason stays";
    ws::closesocket(s);
    EXPECT_EQ(ws::BrokenReason(s), 0);
}

TEST_F(WinsockTest, HandlesAreNeverZeroNorInvalidAndErrorsUseWinsockNumbers) {
    std::vector<ws::SOCKET> handles;
    for (int i = 0; i < 20; ++i) {
        ws::SOCKET s = ws::socket(AF_INET, SOCK_STREAM, 0);
        EXPECT_NE(s, 0u);
        EXPECT_NE(s, ws::INVALID_SOCKET);
        for (ws::SOCKET h : handles) EXPECT_NE(s, h);
        handles.push_back(s);
        if (i % 2) ws::closesocket(s);  // closed handles are not handed out again
    }
    ws::SOCKET l = Listen();
    ws::SOCKET again = ws::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = Loopback(port_);
    EXPECT_EQ(ws::bind(again, reinterpret_cast<sockaddr*>(&a), sizeof a), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEADDRINUSE);
    EXPECT_EQ(ws::WSAAsyncSelect(l, nullptr, WM_SOCKET, ws::FD_ACCEPT), ws::SOCKET_ERROR);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAEINVAL);
    EXPECT_EQ(ws::WSAStartup(0x0000, &data_), ws::WSAVERNOTSUPPORTED);
}

TEST_F(WinsockTest, NamesAndAddressesResolveWithoutAskingTheNetworkForBadNames) {
    const ws::HOSTENT* h = ws::gethostbyname("127.0.0.1");
    ASSERT_NE(h, nullptr);
    ASSERT_NE(h->h_addr_list[0], nullptr);
    EXPECT_EQ(h->h_length, 4);
    EXPECT_EQ(std::memcmp(h->h_addr_list[0], "\x7f\x00\x00\x01", 4), 0);
    h = ws::gethostbyname("localhost");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(static_cast<unsigned char>(h->h_addr_list[0][0]), 127);

    EXPECT_EQ(ws::gethostbyname("no such host"), nullptr);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAHOST_NOT_FOUND);
    EXPECT_EQ(ws::gethostbyname("receiver.invalid"), nullptr);
    EXPECT_EQ(ws::WSAGetLastError(), ws::WSAHOST_NOT_FOUND);

    ws::u_long v = ws::inet_addr("192.168.0.100");
    EXPECT_EQ(std::memcmp(&v, "\xC0\xA8\x00\x64", 4), 0);
    EXPECT_EQ(ws::inet_addr("not an address"), ws::INADDR_NONE_VALUE);
    ws::u_short p = ws::htons(8001);
    EXPECT_EQ(std::memcmp(&p, "\x1F\x41", 2), 0);
}

}  // namespace
