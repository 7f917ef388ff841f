// Keeps slow and idle clients from locking everyone else out of the web face. It knows every open
// connection and whether it waits for a request or is being answered:
//   - a connection that has waited for a whole request longer than the deadline (however slowly its bytes
//     trickle in) is ended by the guard's own thread;
//   - when every place is taken, a new connection takes the place of the one that has waited longest for a
//     request; when all of them are being answered, the new one is turned away.
// Connections are named by an opaque handle and ended through a function the owner gives, so the guard
// knows nothing of the HTTP library or of sockets.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace web {

class ConnectionGuard {
  public:
    using Handle = const void*;
    // Ends a connection that another thread serves (its reads see the end); called under the guard's lock.
    using EndConnection = std::function<void(int descriptor)>;

    ConnectionGuard(int most_connections, int request_deadline_ms, EndConnection end);
    ~ConnectionGuard();
    ConnectionGuard(const ConnectionGuard&) = delete;
    ConnectionGuard& operator=(const ConnectionGuard&) = delete;

    // Before a connection is accepted: true when there is a place for it (freeing the longest-waiting one
    // when all are taken), false when every place is being answered.
    bool MakeRoom();
    void Opened(Handle connection, int descriptor, std::int64_t now_micros);
    // A whole request arrived / its answer ended (the connection waits for the next one) / it closed.
    void RequestArrived(Handle connection);
    void AnswerEnded(Handle connection, std::int64_t now_micros);
    void Closed(Handle connection);

    // Ends the connections that waited too long; the guard's thread calls it twice a second.
    void EndLateConnections(std::int64_t now_micros);
    int Ended() const;

  private:
    struct Entry {
        int descriptor = -1;
        bool answering = false;
        bool ending = false;
        std::int64_t waiting_since = 0;
    };
    void EndLocked(Entry& entry);
    void Watch();

    const std::size_t most_;
    const std::int64_t deadline_micros_;
    const EndConnection end_;
    mutable std::mutex mutex_;
    std::condition_variable stop_;
    bool stopping_ = false;
    int ended_ = 0;
    std::unordered_map<Handle, Entry> entries_;
    std::thread watcher_;
};

}  // namespace web
