// Following events through the pictures, and the thumbnail's box.
#include "events/event_tracker.h"

#include <algorithm>
#include <cmath>

#include "media/picture_geometry.h"

namespace events {

EventTracker::EventTracker(double gap_seconds)
    : gap_micros_(static_cast<std::int64_t>(std::llround(std::max(0.0, gap_seconds) * 1e6))) {
    for (Slot& slot : slots_) slot.peak_picture.resize(media::kPictureBytes);
}

EventChanges EventTracker::Update(const motion::MotionResult& result, const std::uint8_t* picture,
                                  const PictureTime& time) {
    EventChanges changes;
    changes.ended = Expire(time);
    if (!result.motion) return changes;
    if (running_ < 0) {
        Start(time);
        changes.started = true;
    }
    Slot& slot = slots_[running_];
    Event& event = slot.event;
    event.last_motion_micros = time.monotonic_micros;
    event.box = motion::Union(event.box, result.box);
    if (result.changed_pixels > event.peak) {
        event.peak = result.changed_pixels;
        event.peak_box = result.box;
        std::copy(picture, picture + media::kPictureBytes, slot.peak_picture.begin());
    }
    last_motion_wall_ = time.wall;
    return changes;
}

bool EventTracker::Expire(const PictureTime& time) {
    if (running_ < 0 || time.monotonic_micros - slots_[running_].event.last_motion_micros < gap_micros_) {
        return false;
    }
    WallTime end = last_motion_wall_;
    end.unix_seconds += (gap_micros_ + 500000) / 1000000;
    End(end);
    return true;
}

bool EventTracker::Finish(const PictureTime& time) {
    if (running_ < 0) return false;
    End(time.wall);
    return true;
}

void EventTracker::Start(const PictureTime& time) {
    running_ = ended_ == 0 ? 1 : 0;
    Event& event = slots_[running_].event;
    const std::string base = CompactTime(time.wall);
    same_second_starts_ = base == last_id_base_ ? same_second_starts_ + 1 : 1;
    last_id_base_ = base;
    event.id = same_second_starts_ == 1 ? base : base + "-" + std::to_string(same_second_starts_);
    event.start = time.wall;
    event.end.reset();
    event.peak = 0;
    event.box = {};
    event.peak_box = {};
    event.start_micros = time.monotonic_micros;
    event.last_motion_micros = time.monotonic_micros;
}

void EventTracker::End(const WallTime& end) {
    slots_[running_].event.end = end;
    ended_ = running_;
    running_ = -1;
}

bool EventTracker::DrawThumbnail(const Event& event, std::uint8_t* out) const {
    for (int i = 0; i < static_cast<int>(slots_.size()); ++i) {
        if (&slots_[i].event != &event || (i != running_ && i != ended_)) continue;
        std::copy(slots_[i].peak_picture.begin(), slots_[i].peak_picture.end(), out);
        DrawBox(event.peak_box, out);
        return true;
    }
    return false;
}

void DrawBox(const motion::Box& box, std::uint8_t* picture) {
    constexpr int kLine = 2;
    const int left = std::clamp(box.x, 0, media::kPictureWidth),
              top = std::clamp(box.y, 0, media::kPictureHeight);
    const int right = std::clamp(box.x + box.w, 0, media::kPictureWidth);
    const int bottom = std::clamp(box.y + box.h, 0, media::kPictureHeight);
    if (right <= left || bottom <= top) return;
    for (int y = top; y < bottom; ++y) {
        const bool edge_row = y < top + kLine || y >= bottom - kLine;
        std::uint8_t* row =
            picture + static_cast<std::size_t>(media::kPictureHeight - 1 - y) * media::kPictureRowBytes;
        for (int x = left; x < right; ++x) {
            if (!edge_row && x >= left + kLine && x < right - kLine) continue;
            std::uint8_t* pixel = row + media::kPixelBytes * x;
            pixel[0] = 0, pixel[1] = 0, pixel[2] = 255;
        }
    }
}

}  // namespace events
