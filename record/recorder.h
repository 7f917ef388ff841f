// Recorder: records events into a folder of fragmented MP4 files (H.264 and AAC) with the seconds before
// each event, on an encoder thread of its own, keeping the folder within its retention limits.
//
// How a program feeds it:
// - Make one Recorder with its settings and call Start on the window thread; Stop (or the destructor) ends
//   the encoder thread, finishing the file being written.
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

#include "record/recording_folder.h"
#include "record/recording_queue.h"

namespace record {

struct RecorderSettings {
    std::string folder;
    double fps = 15;  // the capture rate: sizes the pre-capture buffer and paces the encoder
    double pre_capture_seconds = 3;
    double post_capture_seconds = 5;
    bool with_sound = true;  // false when the program captures no sound: the files have no sound track
    Retention retention;
    std::uint64_t min_free_bytes = 8 * 1024 * 1024;  // a file starts only with this much room left
    int retry_ms = 5000;                             // how often a stopped recorder looks for room again
};

enum class RecorderState {
    kIdle,       // waiting for an event
    kRecording,  // writing a file
    kStopped,    // the folder is full or cannot be written; Problem says why
};

struct RecorderStatus {
    RecorderState state = RecorderState::kIdle;
    std::string file;                    // the file being written, else the last one written (NAME.mp4)
    std::string problem;                 // the one line about why recording stopped; empty while it works
    std::uint64_t dropped_pictures = 0;  // left out because the encoder fell behind
    std::uint64_t files_written = 0;
};

class Recorder {
  public:
    using ReportCallback = std::function<void(const std::string& line)>;

    Recorder(const RecorderSettings& settings, ReportCallback report);
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Makes the folder when it is missing, reads its index and starts the encoder thread. False when the
    // folder cannot be made or written, or the settings are out of range.
    bool Start(std::string* error);
    void Stop();

    // ---- The window thread ----
    void AddPicture(const std::uint8_t* bgr_bottom_up, std::int64_t capture_micros);
    void AddSound(std::span<const std::int16_t, kSoundBlockSamples> samples, std::int64_t end_micros);
    void EventStarted(const std::string& id, std::int64_t start_micros);
    void EventEnded(const std::string& id, std::int64_t end_micros);
    void SetThumbnail(const std::string& event_id, std::vector<std::uint8_t> jpeg);

    // ---- Any thread ----
    RecorderStatus Status() const;
    // The folder's recordings, oldest first.
    std::vector<IndexEntry> Recordings() const;
    // The video (NAME.mp4) that records an event; empty when none does.
    std::string VideoOfEvent(const std::string& event_id) const;
    // Deletes a recording (NAME.mp4 with its thumbnail) at a user's request; false when the name is no
    // recording of the folder, or names the one being written.
    bool DeleteRecording(const std::string& video, std::string* error);

    // Checks settings before a program starts; false and a line for the user when one is out of range.
    static bool CheckSettings(const RecorderSettings& settings, std::string* error);

  private:
    class Encoder;
    RecorderSettings settings_;
    ReportCallback report_;
    std::unique_ptr<RecordingQueue> queue_;
    std::unique_ptr<Encoder> encoder_;
};

}  // namespace record
