// Each picture once. The server numbers the pictures that it compresses and remembers, per slot, the number
// of the picture last sent there. A frame request from a receiver that has not had the current picture is
// answered at once; one from a receiver that already has it waits and is answered right after the next
// picture is compressed, and a request before the first picture waits for that one. No request waits longer
// than kFrameWaitLimitMs: a server whose camera stopped still answers, well inside the receivers' watchdog.
// With resend on (--resend-frames) every request is answered at once with the current frame, even one the
// receiver has had: its rhythm of one answer per request is kept at the cost of sending a picture again.
// Runs on the window thread only; the wire bytes are the same either way.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "platform/window/timer.h"
#include "server/client_table.h"

namespace tessaly {

inline constexpr std::int64_t kFrameWaitLimitMs = 500;

// The bookkeeping alone, with the time passed in.
class FramePacer {
  public:
    // A waiting request counts as due a little before the limit: a coarse timer may fire up to 5 % late.
    static constexpr std::int64_t kDueAfterMs = kFrameWaitLimitMs * 9 / 10;

    void SetResend(bool on) { resend_ = on; }
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

// The pacer with its clock and its timer, answering through the send function it is given.
class FramePacing {
  public:
    // send(slot) sends the current frame to slot; a slot freed meanwhile is for it to skip.
    explicit FramePacing(std::function<void(int slot)> send);

    void SetResend(bool on) { pacer_.SetResend(on); }
    void SlotFilled(int slot) { pacer_.SlotFilled(slot); }
    // Answers slot's frame request now or lets it wait.
    void Request(int slot);
    // A new picture was compressed: every waiting slot gets it.
    void PictureCompressed();

  private:
    void AnswerWaiting(int slot);
    void AnswerOverdue();
    void ArmWaitTimer();

    FramePacer pacer_;
    std::function<void(int slot)> send_;
    platform::Timer wait_timer_;  // armed while a request waits, for the first one due
};

}  // namespace tessaly
