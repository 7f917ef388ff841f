// Recorder: records events into a folder of fragmented MP4 files (H.264 and AAC) with the seconds before
// each event, on an encoder thread of its own, keeping the folder within its retention limits.
//
// How a program feeds it:
// - Make one Recorder with its settings and call Start on the window thread; Stop (or the destructor) ends
//   the encoder thread, finishing the file being written. Stop it after the other threads that ask it
//   (the web face) have stopped asking.
// - The window thread hands it every captured picture (AddPicture: 320 x 240 BGR24, rows bottom-up, with
//   its capture time) and every captured sound block (AddSound: 1,600 samples of 8 kHz 16-bit mono, with the
//   time it was complete), whether or not an event lasts: the last pre-capture seconds are always kept.
//   Both times are on the monotonic clock (platform::MonotonicMicros, std::chrono::steady_clock).
// - The event logic calls EventStarted with the capture time of the event's first picture and EventEnded
//   with the time the event ended, on the same thread. A recording runs from pre-capture seconds before the
//   start to post-capture seconds after the end; an event that starts before that has passed extends it.
// - SetThumbnail gives the JPEG of an event; it is written as NAME.jpg beside the event's video.
// - None of these calls waits for the disk or the encoder: they copy into fixed slots (allocated at Start)
//   and return. When the encoder falls behind, pictures are dropped, counted, and reported once per file.
// - Status, Recordings, VideoOfEvent and DeleteRecording may be called from any thread. The report callback
// is called on
//   the encoder thread: it must be safe to call from there (post to the window, or write a line).
//
// Files: NAME.mp4 and NAME.jpg, named by the local start time, and index.txt (recording_folder.h). Retention
// (max size, max age) deletes the oldest recordings, and only the recorder's own files, after each file and
// every minute. A file system that is full (or fails) stops recording with one line and the status
// kStopped; the recorder looks every retry interval and resumes, with a new file, when the folder has room.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "record/event_recorder.h"
#include "record/recording_folder.h"
#include "record/recording_queue.h"

namespace record {

class Recorder final : public EventRecorder {
  public:
    Recorder(const RecorderSettings& settings, ReportCallback report);
    ~Recorder() override;
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Makes the folder when it is missing, reads its index and starts the encoder thread. False when the
    // folder cannot be made or written, or the settings are out of range.
    bool Start(std::string* error) override;
    void Stop() override;

    // ---- The window thread ----
    void AddPicture(const std::uint8_t* bgr_bottom_up, std::int64_t capture_micros) override;
    void AddSound(std::span<const std::int16_t, kSoundBlockSamples> samples,
                  std::int64_t end_micros) override;
    void EventStarted(const std::string& id, std::int64_t start_micros) override;
    void EventEnded(const std::string& id, std::int64_t end_micros) override;
    void SetThumbnail(const std::string& event_id, std::vector<std::uint8_t> jpeg) override;

    // ---- Any thread ----
    RecorderStatus Status() const override;
    // The folder's recordings, oldest first.
    std::vector<IndexEntry> Recordings() const;
    // The video (NAME.mp4) that records an event; empty when none does.
    std::string VideoOfEvent(const std::string& event_id) const override;
    // Deletes a recording (NAME.mp4 with its thumbnail) at a user's request; false when the name is no
    // recording of the folder, or names the one being written.
    bool DeleteRecording(const std::string& video, std::string* error) override;

  private:
    class Encoder;
    RecorderSettings settings_;
    ReportCallback report_;
    std::unique_ptr<RecordingQueue> queue_;
    std::unique_ptr<Encoder> encoder_;
};

}  // namespace record
