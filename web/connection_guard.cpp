#include "web/connection_guard.h"

#include <chrono>

#include "platform/capture/timestamp.h"

namespace web {

namespace {

constexpr auto kWatchEvery = std::chrono::milliseconds(500);

}  // namespace

ConnectionGuard::ConnectionGuard(int most_connections, int request_deadline_ms, EndConnection end)
    : most_(static_cast<std::size_t>(most_connections)),
      deadline_micros_(std::int64_t{request_deadline_ms} * 1000),
      end_(std::move(end)),
      watcher_([this] { Watch(); }) {}

ConnectionGuard::~ConnectionGuard() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    stop_.notify_all();
    watcher_.join();
}

bool ConnectionGuard::MakeRoom() {
    std::lock_guard lock(mutex_);
    std::size_t live = 0;
    Entry* longest = nullptr;
    for (auto& [handle, entry] : entries_) {
        if (entry.ending) continue;
        ++live;
        if (!entry.answering && (longest == nullptr || entry.waiting_since < longest->waiting_since))
            longest = &entry;
    }
    if (live < most_) return true;
    if (longest == nullptr) return false;
    EndLocked(*longest);
    return true;
}

void ConnectionGuard::Opened(Handle connection, int descriptor, std::int64_t now_micros) {
    std::lock_guard lock(mutex_);
    Entry& entry = entries_[connection];
    entry.descriptor = descriptor;
    entry.waiting_since = now_micros;
}

void ConnectionGuard::RequestArrived(Handle connection) {
    std::lock_guard lock(mutex_);
    const auto found = entries_.find(connection);
    if (found != entries_.end()) found->second.answering = true;
}

void ConnectionGuard::AnswerEnded(Handle connection, std::int64_t now_micros) {
    std::lock_guard lock(mutex_);
    const auto found = entries_.find(connection);
    if (found == entries_.end()) return;
    found->second.answering = false;
    found->second.waiting_since = now_micros;
}

void ConnectionGuard::Closed(Handle connection) {
    std::lock_guard lock(mutex_);
    entries_.erase(connection);
}

void ConnectionGuard::EndLateConnections(std::int64_t now_micros) {
    std::lock_guard lock(mutex_);
    for (auto& [handle, entry] : entries_) {
        if (!entry.answering && !entry.ending && now_micros - entry.waiting_since > deadline_micros_)
            EndLocked(entry);
    }
}

int ConnectionGuard::Ended() const {
    std::lock_guard lock(mutex_);
    return ended_;
}

// The connection's descriptor stays open until its own thread reports it closed (under this lock), so
// it cannot be another connection's by now.
void ConnectionGuard::EndLocked(Entry& entry) {
    entry.ending = true;
    ++ended_;
    end_(entry.descriptor);
}

void ConnectionGuard::Watch() {
    std::unique_lock lock(mutex_);
    while (!stop_.wait_for(lock, kWatchEvery, [this] { return stopping_; })) {
        lock.unlock();
        EndLateConnections(platform::MonotonicMicros());
        lock.lock();
    }
}

}  // namespace web
