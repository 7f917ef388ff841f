// The event logic: turns the detector's per-picture results into events. An event starts at the first
// picture with motion raised and ends `gap` seconds after the last one (default 10); motion within the
// gap belongs to the same event. Standard library only; no clock (event_time.h), and Update allocates
// nothing except when an event starts.
//
// How the server feeds it: after MotionDetector::Process, call Update with the result, the same picture
// and its times; on `started` announce Running(), on `ended` announce LastEnded() (both may come from one
// picture: the old event ended before the new one started, announce the end first). When capture stops or
// the server quits, Finish ends a running event. Pictures that stop coming leave the event open: the
// server may call Expire from a timer to end it on time.
//
// The thumbnail: the picture with the most changed pixels is kept (one copy per event slot, made only
// when the peak rises) and DrawThumbnail writes it with its box drawn, to be encoded elsewhere. The last
// ended event keeps its picture until the next event ends.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "events/event_time.h"
#include "motion/motion_detector.h"

namespace events {

struct Event {
    std::string id;  // the start's local time, "20261208-103029", with "-2", "-3" for a second start in it
    WallTime start;
    std::optional<WallTime> end;          // none while the event lasts
    int peak = 0;                         // the most changed pixels in one picture
    motion::Box box;                      // around every change of the event
    motion::Box peak_box;                 // around the change of the peak picture (drawn on the thumbnail)
    std::int64_t start_micros = 0;        // monotonic time of the first motion picture
    std::int64_t last_motion_micros = 0;  // and of the last
};

struct EventChanges {
    bool ended = false;    // LastEnded() has just ended
    bool started = false;  // Running() has just started
};

class EventTracker {
  public:
    static constexpr double kDefaultGapSeconds = 10;

    explicit EventTracker(double gap_seconds = kDefaultGapSeconds);

    // One picture (media::kPictureBytes, as given to the detector) and what the detector made of it.
    EventChanges Update(const motion::MotionResult& result, const std::uint8_t* picture,
                        const PictureTime& time);
    // Ends the running event if the gap has passed since its last motion; its end is that motion's time
    // plus the gap. True when it ended.
    bool Expire(const PictureTime& time);
    // Ends the running event now. True when there was one.
    bool Finish(const PictureTime& time);

    const Event* Running() const { return running_ < 0 ? nullptr : &slots_[running_].event; }
    const Event* LastEnded() const { return ended_ < 0 ? nullptr : &slots_[ended_].event; }
    // Writes the thumbnail of Running() or LastEnded(): the peak picture (bottom-up BGR,
    // media::kPictureBytes) with its box drawn. False (and nothing written) for any other event.
    bool DrawThumbnail(const Event& event, std::uint8_t* out) const;

  private:
    struct Slot {
        Event event;
        std::vector<std::uint8_t> peak_picture;
    };
    void Start(const PictureTime& time);
    void End(const WallTime& end);

    std::int64_t gap_micros_;
    std::array<Slot, 2> slots_;
    int running_ = -1;
    int ended_ = -1;
    WallTime last_motion_wall_;
    std::string last_id_base_;
    int same_second_starts_ = 0;
};

// Draws the outline of `box` (two pixels wide, red) on a bottom-up BGR picture of media::kPictureBytes.
void DrawBox(const motion::Box& box, std::uint8_t* picture);

// The event as the web face and other programs get it:
// {"id":"…","start":"ISO","end":"ISO" or null,"peak":N,"box":[x,y,w,h],"thumbnail":"URL","video":"URL" or
// null}
std::string EventJson(const Event& event, const std::string& thumbnail_url,
                      const std::optional<std::string>& video_url);

}  // namespace events
