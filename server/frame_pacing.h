// Each picture once. The server numbers the pictures that the frame callback compresses and remembers, per
// slot, the number of the picture last sent there. A frame request from a receiver that has not had the
// current picture is answered at once; one from a receiver that already has it waits and is answered right
// after the next picture is compressed, and a request before the first picture waits for that one. No
// request waits longer than kFrameWaitLimitMs: a server whose camera stopped still answers, well inside the
// receivers' watchdog. With resend on (--resend-frames) every request is answered at once, as the design
// has it. Runs on the window thread only; the wire bytes are the same either way.
#pragma once

#include <array>
#include <cstdint>

#include "server/server_module.h"

namespace tessaly {

inline constexpr std::int64_t kFrameWaitLimitMs = 500;

// The bookkeeping alone, with the time passed in.
class FramePacer {
  public:
    // A waiting request counts as due a little before the limit: a coarse timer may fire up to 5 % late.
    static constexpr std::int64_t kDueAfterMs = kFrameWaitLimitMs * 9 / 10;

    void SetResend(bool on) { resend_ = on; }
    bool Resend() const { return resend_; }
    // A receiver took the slot: it has had no picture and waits for nothing.
    void SlotFilled(int slot) { slots_[slot] = {}; }
    // A frame request from slot at now_ms: true when it is to be answered now, else the slot waits (a slot
    // that is waiting already keeps its start time: one answer serves both requests).
    bool Request(int slot, std::int64_t now_ms);
    // The current picture went out to slot.
    void Sent(int slot) { slots_[slot] = {picture_, -1}; }
    void PictureCompressed() { ++picture_; }
    bool Waiting(int slot) const { return slots_[slot].waiting_since_ms >= 0; }
    bool Due(int slot, std::int64_t now_ms) const;
    // Milliseconds until the first waiting slot is due (0 when one is), -1 when none waits.
    std::int64_t NextDueInMs(std::int64_t now_ms) const;

  private:
    struct Slot {
        std::uint64_t last_sent = 0;  // picture numbers start at 1: 0 is "none"
        std::int64_t waiting_since_ms = -1;
    };
    std::array<Slot, kClientSlots> slots_{};
    std::uint64_t picture_ = 0;
    bool resend_ = false;
};

// The server's pacer, answering through SendFrame (window_proc.h).
void SetResendFrames(bool on);
void FrameSlotFilled(std::int32_t Num);
// Answers slot Num's frame request now or lets it wait.
void AnswerFrameRequest(std::int32_t Num);
// A new picture is in PressBuf: every waiting slot gets it.
void PictureCompressed();
void ResetFramePacing();

}  // namespace tessaly
