// What looks after one server's session beyond the request cycle, for Quillon and for each of Brondel's
// servers:
// - the attempt: from the connect until the first frame or sound block the session is only being made (a
//   stopped server's kernel still completes connections); nothing within 10 s gives the attempt up;
// - the watchdog (once data has come): a server that leaves a frame request unanswered for 5 s and sends no
// sound block in that
//   time either is taken as lost (a stopped process or a pulled cable closes no connection);
// - reconnecting (--reconnect, off by default): after a lost or failed connection, a new attempt every 3 s
//   until one succeeds or the user disconnects; a failure's reason is shown for 1.5 s, then the count of
//   the attempt that is due;
// - the pause after a frame message without a picture (a server that has compressed nothing yet): the next
//   request waits 100 ms instead of going out at once.
// The window reports the session's events; the keeper calls back on the window thread when the server is
// established, lost or timed out, when the wait for an attempt is told, when an attempt is due and when the
// pause is over. Times come from a clock that tests replace, and
// tests drive the timers tick by tick with Fire().
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/window/timer.h"

namespace receiver {

class LinkKeeper {
  public:
    using Clock = std::function<std::int64_t()>;  // microseconds, steady
    static constexpr std::int64_t kSilenceLimitMicros = 5'000'000;
    static constexpr int kWatchdogTickMs = 1000;
    static constexpr int kRetryMs = 3000;
    static constexpr int kEmptyFramePauseMs = 100;
    static constexpr int kConnectLimitMs = 10000;
    static constexpr int kFailureShownMs = 1500;

    LinkKeeper();
    LinkKeeper(const LinkKeeper&) = delete;
    LinkKeeper& operator=(const LinkKeeper&) = delete;

    void SetClock(Clock clock) { clock_ = std::move(clock); }
    void SetReconnect(bool on) { reconnect_ = on; }
    bool Reconnect() const { return reconnect_; }

    void OnEstablished(std::function<void()> handler) { on_established_ = std::move(handler); }
    void OnLost(std::function<void()> handler) { on_lost_ = std::move(handler); }
    void OnTimedOut(std::function<void()> handler) { on_timed_out_ = std::move(handler); }
    // The failure has been shown long enough: attempt (from 1) is the next one, due later.
    void OnRetryWaiting(std::function<void(int attempt)> handler) { on_retry_waiting_ = std::move(handler); }
    void OnRetry(std::function<void(int attempt)> handler) { on_retry_ = std::move(handler); }
    void OnPauseOver(std::function<void()> handler) { on_pause_over_ = std::move(handler); }

    // An attempt to connect starts: it has 10 s to bring its first frame or sound block.
    void Connecting();
    // The first frame or sound block ends the attempt: the watchdog starts, the next loss counts its
    // attempts from 1 again, and OnEstablished is called. Later calls only keep the watchdog fed.
    void RequestSent();
    void FrameAnswered();
    void SoundArrived();
    // The connection was lost or could not be made: the watchdog and any pause stop; with reconnecting
    // on, the next attempt is due in 3 s and the result is true.
    bool ScheduleRetry();
    // The user ended the session (or the program ends): nothing more is watched, paused or attempted.
    void Stop();
    void PauseBeforeNextRequest();

    bool IsConnecting() const { return connect_timer_.Running(); }
    bool Established() const { return watching_; }
    bool Watching() const { return watching_; }
    bool Retrying() const { return retry_timer_.Running(); }
    bool Pausing() const { return pause_timer_.Running(); }
    platform::Timer& WatchdogTimer() { return watchdog_timer_; }
    platform::Timer& RetryTimer() { return retry_timer_; }
    platform::Timer& PauseTimer() { return pause_timer_; }
    platform::Timer& ConnectTimer() { return connect_timer_; }
    platform::Timer& NoticeTimer() { return notice_timer_; }

  private:
    void DataArrived();
    void ConnectTimedOut();
    void NoticeOver();
    void CheckSilence();
    void RetryDue();
    void PauseOver();
    void StopWatching();

    Clock clock_;
    bool reconnect_ = false;
    bool watching_ = false;
    int outstanding_ = 0;             // frame requests sent and not answered
    std::int64_t waiting_since_ = 0;  // when the oldest unanswered request went out (or was last answered)
    std::int64_t last_sound_ = 0;     // the latest sound block, or the connect
    int attempts_ = 0;
    platform::Timer watchdog_timer_;
    platform::Timer retry_timer_;
    platform::Timer pause_timer_;
    platform::Timer connect_timer_;
    platform::Timer notice_timer_;
    std::function<void()> on_established_;
    std::function<void()> on_lost_;
    std::function<void()> on_timed_out_;
    std::function<void(int)> on_retry_waiting_;
    std::function<void(int)> on_retry_;
    std::function<void()> on_pause_over_;
};

}  // namespace receiver
