#include "receiver/link_keeper.h"

#include "platform/capture/timestamp.h"

namespace receiver {

LinkKeeper::LinkKeeper() : clock_([] { return platform::MonotonicMicros(); }) {
    watchdog_timer_.SetHandler([this] { CheckSilence(); });
    retry_timer_.SetHandler([this] { RetryDue(); });
    pause_timer_.SetHandler([this] { PauseOver(); });
    connect_timer_.SetHandler([this] { ConnectTimedOut(); });
    notice_timer_.SetHandler([this] { NoticeOver(); });
}

void LinkKeeper::Connecting() {
    StopWatching();
    notice_timer_.SetInterval(0);
    connect_timer_.SetInterval(kConnectLimitMs);
}

void LinkKeeper::RequestSent() {
    if (outstanding_++ == 0) waiting_since_ = clock_();
}

void LinkKeeper::FrameAnswered() {
    if (outstanding_ > 0) --outstanding_;
    waiting_since_ = clock_();  // a request still out is counted from this answer on
    DataArrived();
}

void LinkKeeper::SoundArrived() {
    last_sound_ = clock_();
    DataArrived();
}

void LinkKeeper::DataArrived() {
    if (watching_ || !connect_timer_.Running()) return;
    connect_timer_.SetInterval(0);
    watching_ = true;
    attempts_ = 0;
    last_sound_ = clock_();
    if (outstanding_ == 0) waiting_since_ = clock_();
    watchdog_timer_.SetInterval(kWatchdogTickMs);
    if (on_established_) on_established_();
}

void LinkKeeper::ConnectTimedOut() {
    connect_timer_.SetInterval(0);
    if (on_timed_out_) on_timed_out_();
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
    connect_timer_.SetInterval(0);
    pause_timer_.SetInterval(0);
    if (!reconnect_) return false;
    retry_timer_.SetInterval(kRetryMs);
    notice_timer_.SetInterval(kFailureShownMs);
    return true;
}

void LinkKeeper::NoticeOver() {
    notice_timer_.SetInterval(0);
    if (on_retry_waiting_) on_retry_waiting_(attempts_ + 1);
}

void LinkKeeper::RetryDue() {
    retry_timer_.SetInterval(0);
    notice_timer_.SetInterval(0);
    if (on_retry_) on_retry_(++attempts_);
}

void LinkKeeper::Stop() {
    StopWatching();
    retry_timer_.SetInterval(0);
    pause_timer_.SetInterval(0);
    connect_timer_.SetInterval(0);
    notice_timer_.SetInterval(0);
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
