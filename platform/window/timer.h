// A timer control: an interval in milliseconds (0 stops it) and an enabled flag, ticking on the window thread.
#pragma once

#include <functional>
#include <memory>

class QTimer;

namespace platform {

class Timer {
public:
    explicit Timer(std::function<void()> on_tick = {});
    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    void SetHandler(std::function<void()> on_tick) { on_tick_ = std::move(on_tick); }
    // Setting the interval restarts the count; 0 stops the ticks until a positive interval is set.
    void SetInterval(int ms);
    int Interval() const { return interval_ms_; }
    void SetEnabled(bool enabled);
    bool Enabled() const { return enabled_; }
    bool Running() const;

    // Runs one tick now, as the timer would; tests drive timers tick by tick with it.
    void Fire();

private:
    void Apply();

    std::function<void()> on_tick_;
    std::unique_ptr<QTimer> timer_;
    int interval_ms_ = 0;
    bool enabled_ = true;
};

}  // namespace platform
