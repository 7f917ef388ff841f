#include "server/frame_pacing.h"

#include <algorithm>

#include "platform/capture/timestamp.h"

namespace tessaly {

bool FramePacer::Request(int slot, std::int64_t now_ms) {
    Slot& s = slots_[slot];
    if (resend_ || s.last_sent != picture_) return true;
    if (s.waiting_since_ms < 0) s.waiting_since_ms = now_ms;
    return false;
}

bool FramePacer::Due(int slot, std::int64_t now_ms) const {
    return Waiting(slot) && now_ms - slots_[slot].waiting_since_ms >= kDueAfterMs;
}

std::int64_t FramePacer::NextDueInMs(std::int64_t now_ms) const {
    std::int64_t next = -1;
    for (const Slot& s : slots_) {
        if (s.waiting_since_ms < 0) continue;
        const std::int64_t in = std::max<std::int64_t>(0, s.waiting_since_ms + kDueAfterMs - now_ms);
        if (next < 0 || in < next) next = in;
    }
    return next;
}

namespace {

std::int64_t NowMs() {
    return platform::MonotonicMicros() / 1000;
}

}  // namespace

FramePacing::FramePacing(std::function<void(int slot)> send) : send_(std::move(send)) {
    wait_timer_.SetHandler([this] { AnswerOverdue(); });
}

void FramePacing::Request(int slot) {
    if (!pacer_.Request(slot, NowMs())) {
        ArmWaitTimer();
        return;
    }
    pacer_.Sent(slot);
    send_(slot);
}

void FramePacing::PictureCompressed() {
    pacer_.PictureCompressed();
    for (int slot = 1; slot < kClientSlots; ++slot) {
        if (pacer_.Waiting(slot)) AnswerWaiting(slot);
    }
    ArmWaitTimer();
}

void FramePacing::ArmWaitTimer() {
    const std::int64_t next = pacer_.NextDueInMs(NowMs());
    wait_timer_.SetInterval(next < 0 ? 0 : static_cast<int>(std::max<std::int64_t>(1, next)));
}

void FramePacing::AnswerWaiting(int slot) {
    pacer_.Sent(slot);  // first: a failed send frees the slot
    send_(slot);
}

void FramePacing::AnswerOverdue() {
    const std::int64_t now = NowMs();
    for (int slot = 1; slot < kClientSlots; ++slot) {
        if (pacer_.Due(slot, now)) AnswerWaiting(slot);
    }
    ArmWaitTimer();
}

}  // namespace tessaly
