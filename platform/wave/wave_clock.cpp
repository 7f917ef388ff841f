// The clocks that pace the tone, file and null devices.
#include <algorithm>
#include <chrono>

#include "platform/wave/wave.h"

namespace platform {
namespace {

std::mutex& ClockMutex() {
    static std::mutex m;
    return m;
}

std::shared_ptr<WaveClock>& ClockSlot() {
    static std::shared_ptr<WaveClock> clock;
    return clock;
}

}  // namespace

std::int64_t SteadyWaveClock::Now() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void SteadyWaveClock::SleepUntil(std::int64_t deadline, const std::atomic<std::uint32_t>& token,
                                 std::uint32_t seen) {
    std::unique_lock lock(mutex_);
    if (token.load() != seen) return;
    if (deadline == kNever) {
        wake_.wait(lock);
        return;
    }
    const auto until = std::chrono::steady_clock::time_point(std::chrono::microseconds(deadline));
    wake_.wait_until(lock, until);
}

void SteadyWaveClock::Notify() {
    std::lock_guard lock(mutex_);  // a sleeper has either seen the new token or is already waiting
    wake_.notify_all();
}

std::int64_t ManualWaveClock::Now() {
    std::lock_guard lock(mutex_);
    return now_;
}

void ManualWaveClock::SleepUntil(std::int64_t deadline, const std::atomic<std::uint32_t>& token,
                                 std::uint32_t seen) {
    std::unique_lock lock(mutex_);
    if (token.load() != seen || now_ >= deadline) return;
    const Sleeper me{deadline, &token, seen};
    sleepers_.push_back(&me);
    changed_.notify_all();
    wake_.wait(lock, [&] { return token.load() != seen || now_ >= deadline; });
    sleepers_.erase(std::find(sleepers_.begin(), sleepers_.end(), &me));
    changed_.notify_all();
}

void ManualWaveClock::Notify() {
    std::lock_guard lock(mutex_);
    wake_.notify_all();
    changed_.notify_all();
}

void ManualWaveClock::Attach() {
    std::lock_guard lock(mutex_);
    ++attached_;
    changed_.notify_all();
}

void ManualWaveClock::Detach() {
    std::lock_guard lock(mutex_);
    --attached_;
    changed_.notify_all();
}

void ManualWaveClock::Advance(std::int64_t micros) {
    std::lock_guard lock(mutex_);
    now_ += micros;
    wake_.notify_all();
    changed_.notify_all();
}

bool ManualWaveClock::SettledLocked() const {
    if (static_cast<int>(sleepers_.size()) != attached_) return false;
    return std::all_of(sleepers_.begin(), sleepers_.end(),
                       [&](const Sleeper* s) { return s->token->load() == s->seen && s->deadline > now_; });
}

bool ManualWaveClock::Settled() {
    std::lock_guard lock(mutex_);
    return SettledLocked();
}

bool ManualWaveClock::WaitSettled(int timeout_ms) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return SettledLocked(); });
}

void SetWaveClock(std::shared_ptr<WaveClock> clock) {
    std::lock_guard lock(ClockMutex());
    ClockSlot() = std::move(clock);
}

std::shared_ptr<WaveClock> CurrentWaveClock() {
    std::lock_guard lock(ClockMutex());
    if (!ClockSlot()) ClockSlot() = std::make_shared<SteadyWaveClock>();
    return ClockSlot();
}

}  // namespace platform
