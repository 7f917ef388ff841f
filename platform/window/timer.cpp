#include "platform/window/timer.h"

#include <QTimer>

namespace platform {

Timer::Timer(std::function<void()> on_tick) : on_tick_(std::move(on_tick)), timer_(std::make_unique<QTimer>()) {
    QObject::connect(timer_.get(), &QTimer::timeout, [this] { Fire(); });
}

Timer::~Timer() = default;

void Timer::SetInterval(int ms) {
    interval_ms_ = ms < 0 ? 0 : ms;
    Apply();
}

void Timer::SetEnabled(bool enabled) {
    enabled_ = enabled;
    Apply();
}

bool Timer::Running() const { return timer_->isActive(); }

void Timer::Fire() {
    if (on_tick_) on_tick_();
}

void Timer::Apply() {
    if (enabled_ && interval_ms_ > 0) {
        timer_->start(interval_ms_);
    } else {
        timer_->stop();
    }
}

}  // namespace platform
