// What the winsock_*.cpp files share: the table of open sockets and the notification engine.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <unordered_map>

#include "platform/winsock/winsock.h"

namespace winsock::detail {

enum class State { kFresh, kListening, kConnecting, kConnected, kFailed };

// The bytes of a connection that the socket did not take yet (SendWhole), sent on as room comes back.
// begin..end of bytes holds them in order; the storage is allocated once, the first time it is needed.
struct PendingOutput {
    std::unique_ptr<char[]> bytes;
    int capacity = 0;
    int begin = 0;
    int end = 0;
    std::chrono::steady_clock::time_point last_progress;  // when a byte last left, or the first was kept
    int Size() const { return end - begin; }
};

// One open socket. The *_armed flags say which notification may be posted next (Winsock's "re-enabling").
struct Entry {
    int fd = -1;
    State state = State::kFresh;
    platform::HWND hwnd = nullptr;
    platform::UINT msg = 0;
    long mask = 0;
    bool read_armed = false;
    bool accept_armed = false;
    bool write_armed = false;
    bool close_done = false;    // FD_CLOSE was posted, or the program shut the receiving side itself
    bool quiet = false;         // the program shut the socket down both ways: no notification any more
    std::uint32_t watched = 0;  // the epoll events the socket is registered for; 0 = not in the set
    int broken_reason = 0;      // the program's reason for ReportBroken; 0 while it has not declared it
    PendingOutput out;
};

// Winsock started? (WSAStartup count above 0)
bool Started();

// The entry of a handle, or nullptr with the last error set (WSANOTINITIALISED or WSAENOTSOCK).
Entry* Find(SOCKET s);

// Adds a socket for fd to the table and returns its handle (never 0, never INVALID_SOCKET).
SOCKET Add(int fd, Entry entry);

// The table of open sockets.
std::unordered_map<SOCKET, Entry>& Sockets();

// Closes the descriptor and forgets the socket.
void Remove(SOCKET s);

// Brings the poll set in line with the entry's registration. With look_again, epoll checks the socket's
// conditions anew and reports those that hold, as after a fresh edge: what re-arming needs when the
// condition may still hold.
void Rewatch(SOCKET s, Entry& e, bool look_again = false);

// Posts one notification for the socket to its registered window.
void Post(SOCKET s, const Entry& e, long event, int error);

// A connect has finished (error 0) or failed: moves the entry on and posts what Winsock posts.
void ConnectFinished(SOCKET s, Entry& e, int error);

// Pending output (winsock_output.cpp). FlushPendingOutput sends what the socket takes and returns 0, or the
// Winsock error of a failed send; DropPendingOutput forgets the bytes (the connection is going away).
bool HasPendingOutput(const Entry& e);
int FlushPendingOutput(Entry& e);
void DropPendingOutput(Entry& e);

// Sets the last error and returns SOCKET_ERROR.
int Fail(int wsa_error);
// The same for the current errno.
int FailErrno();

// WSAStartup and WSACleanup counting: the first start creates the poll set that the calling thread's event
// loop watches (false when there is no event loop or no poll set); the last stop closes every socket.
bool StartEngine();
void StopEngine();

}  // namespace winsock::detail
