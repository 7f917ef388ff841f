#include "server/frame_pacing.h"

#include <algorithm>
#include <memory>

#include "platform/timer.h"
#include "platform/timestamp.h"
#include "server/window_proc.h"

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

struct Pacing {
    FramePacer pacer;
    platform::Timer wait_timer;  // armed while a request waits, for the first one due
};

std::unique_ptr<Pacing>& ThePacing() {
    static std::unique_ptr<Pacing> pacing;
    return pacing;
}

void AnswerOverdue();

Pacing& Paced() {
    if (!ThePacing()) {
        ThePacing() = std::make_unique<Pacing>();
        ThePacing()->wait_timer.SetHandler(AnswerOverdue);
    }
    return *ThePacing();
}

std::int64_t NowMs() {
    return platform::MonotonicMicros() / 1000;
}

bool Connected(int slot) {
    return Clients[slot].fUse != platform::kFalse && Clients[slot].VideoSock != 0;
}

void ArmWaitTimer() {
    const std::int64_t next = Paced().pacer.NextDueInMs(NowMs());
    Paced().wait_timer.SetInterval(next < 0 ? 0 : static_cast<int>(std::max<std::int64_t>(1, next)));
}

// Sends the current frame to a waiting slot; a slot freed meanwhile only stops waiting.
void AnswerWaiting(int slot) {
    Paced().pacer.Sent(slot);  // first: a failed send frees the slot
    if (Connected(slot)) SendFrame(slot);
}

void AnswerOverdue() {
    const std::int64_t now = NowMs();
    for (int slot = 1; slot <= MaxClient; ++slot) {
        if (Paced().pacer.Due(slot, now)) AnswerWaiting(slot);
    }
    ArmWaitTimer();
}

}  // namespace

void SetResendFrames(bool on) {
    Paced().pacer.SetResend(on);
}

void FrameSlotFilled(std::int32_t Num) {
    Paced().pacer.SlotFilled(Num);
}

void AnswerFrameRequest(std::int32_t Num) {
    if (!Paced().pacer.Request(Num, NowMs())) {
        ArmWaitTimer();
        return;
    }
    Paced().pacer.Sent(Num);
    SendFrame(Num);
}

void PictureCompressed() {
    Paced().pacer.PictureCompressed();
    for (int slot = 1; slot <= MaxClient; ++slot) {
        if (Paced().pacer.Waiting(slot)) AnswerWaiting(slot);
    }
    ArmWaitTimer();
}

void ResetFramePacing() {
    ThePacing().reset();
}

}  // namespace tessaly
