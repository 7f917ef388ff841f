// The motion events on their way to the web face's Server-Sent Events streams: the window thread offers each
// event's start and end as a finished message, and every stream takes the messages after the last one it
// sent, waiting a bounded time. Only the newest few are kept: a stream that falls that far behind skips on.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>

namespace web {

class EventExchange {
  public:
    static constexpr std::size_t kKeptMessages = 16;

    // Window thread: one message, "event: NAME", "data: DATA" and a blank line.
    void Offer(std::string_view name, std::string_view data);
    // The number that the next offered message gets: a stream starts there.
    std::uint64_t NextNumber() const;
    // Any thread: the first kept message numbered *next or later into *message, *next moved past it; waits
    // up to wait_ms for one. False when none came or the exchange was closed.
    bool Take(std::uint64_t* next, std::string* message, int wait_ms);
    // Wakes every waiting stream; nothing more is taken.
    void Close();

  private:
    mutable std::mutex mutex_;
    std::condition_variable offered_;
    std::deque<std::string> messages_;  // numbered next_number_ - size() up to next_number_ - 1
    std::uint64_t next_number_ = 1;
    bool closed_ = false;
};

}  // namespace web
