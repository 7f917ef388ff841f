#include "receiver/link_keeper.h"

#include "platform/timestamp.h"

namespace receiver {

std::string RetryText(int attempt) {
    return "再接続中 (" + std::to_string(attempt) + " 回目)";
}

LinkKeeper::LinkKeeper() : clock_([] { return platform::MonotonicMicros(); }) {
    watchdog_timer_.SetHandler([this] { CheckSilence(); });
    retry_timer_.SetHandler([this] { RetryDue(); });
    pause_timer_.SetHandler([this] { PauseOver(); });
}

void LinkKeeper::Connected() {
    watching_ = true;
    outstanding_ = 0;
    last_sound_ = clock_();
    watchdog_timer_.SetInterval(kWatchdogTickMs);
}

void LinkKeeper::RequestSent() {
    if (outstanding_++ == 0) waiting_since_ = clock_();
}

void LinkKeeper::FrameAnswered() {
    if (outstanding_ > 0) --outstanding_;
    waiting_since_ = clock_();  // a request still out is counted from this answer on
}

void LinkKeeper::SoundArrived() {
    last_sound_ = clock_();
}

void LinkKeeper::CheckSilence() {
    if (!watching_ || outstanding_ == 0) return;
    const std::int64_t now = clock_();
    if (now - waiting_since_ < kSilenceLimitMicros || now - last_sound_ < kSilenceLimitMicros) return;
    StopWatching();
    if (on_lost_) on_lost_();
}

bool LinkKeeper::ScheduleRetry() {
    StopWatching();
    pause_timer_.SetInterval(0);
    if (!reconnect_) return false;
    retry_timer_.SetInterval(kRetryMs);
    return true;
}

void LinkKeeper::RetryDue() {
    retry_timer_.SetInterval(0);
    if (on_retry_) on_retry_(++attempts_);
}

void LinkKeeper::Stop() {
    StopWatching();
    retry_timer_.SetInterval(0);
    pause_timer_.SetInterval(0);
    attempts_ = 0;
}

void LinkKeeper::PauseBeforeNextRequest() {
    pause_timer_.SetInterval(kEmptyFramePauseMs);
}

void LinkKeeper::PauseOver() {
    pause_timer_.SetInterval(0);
    if (on_pause_over_) on_pause_over_();
}

void LinkKeeper::StopWatching() {
    watching_ = false;
    outstanding_ = 0;
    watchdog_timer_.SetInterval(0);
}

}  // namespace receiver
