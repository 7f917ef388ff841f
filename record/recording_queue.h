// The pre-capture buffer and the encoder's queue in one: fixed rings of picture and sound slots that the
// feeding thread fills and the encoder thread reads, and the list of recordings (segments) cut from them.
//
// Contract:
// - One feeding thread calls AddPicture, AddSound, StartEvent and EndEvent; one encoder thread calls the
//   Front*/Next*/Done*/PopSegment functions and Wait. Everything else is safe from any thread.
// - Pictures are kept as yuv420p (picture_yuv.h), converted on the feeding thread as they come.
// - The rings are allocated once, when the queue is made: no allocation per picture or sound block. While no
//   recording waits for the encoder, the newest slot replaces the oldest; the rings always hold the last
//   pre-capture seconds. While a recording waits, slots it still needs are never overwritten: a picture or
//   sound block that finds no free slot is dropped and counted (the encoder has fallen behind). The feeder
//   never waits for the encoder.
// - A segment runs from the first picture at or after (event start - pre-capture), but never before the end
//   of the segment before it, to (the last event's end + post-capture). An event that starts while a segment
//   is still open extends that segment. A segment closes when a picture later than its end has arrived and
//   the sound has reached its end too (or, without sound, or with the sound stalled for a second, at once).
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "record/event_recorder.h"

namespace record {

inline constexpr std::int64_t kSoundBlockMicros = 200000;

struct PictureSlot {
    std::vector<std::uint8_t> yuv;  // kYuvBytes (picture_yuv.h); allocated once
    std::int64_t micros = 0;        // capture time
};

struct SoundSlot {
    std::array<std::int16_t, kSoundBlockSamples> samples{};
    std::int64_t first_micros = 0;  // the time of the first sample
};

struct QueueSettings {
    double fps = 15;
    std::int64_t pre_capture_micros = 3000000;
    std::int64_t post_capture_micros = 5000000;
    std::int64_t queue_micros = 1000000;  // how far the encoder may fall behind before pictures drop
    bool with_sound = true;
};

class RecordingQueue {
  public:
    static constexpr int kMaxSegments = 4;
    static constexpr std::uint64_t kOpenEnd = std::numeric_limits<std::uint64_t>::max();

    explicit RecordingQueue(const QueueSettings& settings);

    // ---- The feeding thread ----
    void AddPicture(const std::uint8_t* bgr_bottom_up, std::int64_t capture_micros);
    // One block of 1,600 samples; end_micros is the time the block was complete (its last sample).
    void AddSound(std::span<const std::int16_t, kSoundBlockSamples> samples, std::int64_t end_micros);
    void StartEvent(const std::string& id, std::int64_t start_micros);
    void EndEvent(const std::string& id, std::int64_t end_micros);

    // ---- The encoder thread ----
    // Waits until the feeder adds something or the timeout passes.
    void Wait(std::chrono::milliseconds timeout);
    void WakeEncoder();
    // Whether there is a segment that the encoder has not finished.
    bool HasSegment() const;
    // The next picture or sound block of the front segment, or null; the slot stays the encoder's (it is
    // not overwritten) until Done*.
    const PictureSlot* NextPicture();
    void DonePicture();
    const SoundSlot* NextSound();
    void DoneSound();
    // The ids of the events that the front segment covers so far, and whether it is closed.
    std::vector<std::string> FrontEvents() const;
    bool FrontClosed() const;
    // Whether the front segment is closed and everything in it has been taken.
    bool FrontSegmentDrained() const;
    // Ends the front segment; the next one (if any) becomes the front.
    void PopSegment();

    // ---- Any thread ----
    std::uint64_t DroppedPictures() const;
    std::uint64_t DroppedSoundBlocks() const;
    bool Recording() const;  // a segment is open or waits for the encoder
    std::size_t PictureCapacity() const { return pictures_.size(); }

  private:
    struct Segment {
        std::uint64_t first_picture = 0, end_picture = kOpenEnd;
        std::uint64_t first_sound = 0, end_sound = kOpenEnd;
        std::vector<std::string> events;  // ids of the events it covers, in start order
        bool closed = false;
        int active_events = 0;
        std::int64_t stop_micros = std::numeric_limits<std::int64_t>::max();
    };
    Segment& Back() { return segments_[(front_ + count_ - 1) % kMaxSegments]; }
    const Segment& Front() const { return segments_[front_]; }
    bool BackIsOpen() const;
    void OpenSegment(const std::string& id, std::int64_t start_micros);
    void CloseIfDue();
    // The oldest slot sequence that a waiting segment still needs.
    std::uint64_t PictureNeededFrom() const;
    std::uint64_t SoundNeededFrom() const;

    const QueueSettings settings_;
    std::vector<PictureSlot> pictures_;
    std::vector<SoundSlot> sounds_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::uint64_t pictures_written_ = 0, sounds_written_ = 0;  // sequence of the next slot to fill
    std::uint64_t picture_read_ = 0, sound_read_ = 0;          // the encoder's next slot
    std::array<Segment, kMaxSegments> segments_;
    int front_ = 0, count_ = 0;
    std::int64_t newest_picture_micros_ = 0, newest_sound_end_micros_ = 0;
    bool wake_pending_ = false;
    std::uint64_t dropped_pictures_ = 0, dropped_sounds_ = 0;
};

}  // namespace record
