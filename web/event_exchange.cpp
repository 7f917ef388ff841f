#include "web/event_exchange.h"

#include <chrono>

namespace web {

void EventExchange::Offer(std::string_view name, std::string_view data) {
    std::string message = "event: ";
    message.append(name).append("\ndata: ").append(data).append("\n\n");
    {
        std::lock_guard lock(mutex_);
        if (messages_.size() == kKeptMessages) messages_.pop_front();
        messages_.push_back(std::move(message));
        ++next_number_;
    }
    offered_.notify_all();
}

std::uint64_t EventExchange::NextNumber() const {
    std::lock_guard lock(mutex_);
    return next_number_;
}

bool EventExchange::Take(std::uint64_t* next, std::string* message, int wait_ms) {
    std::unique_lock lock(mutex_);
    const bool offered = offered_.wait_for(lock, std::chrono::milliseconds(wait_ms),
                                           [&] { return closed_ || *next < next_number_; });
    if (!offered || closed_) return false;
    const std::uint64_t oldest = next_number_ - messages_.size();
    if (*next < oldest) *next = oldest;
    *message = messages_[*next - oldest];
    ++*next;
    return true;
}

void EventExchange::Close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    offered_.notify_all();
}

}  // namespace web
