// The recorder's encoder thread: takes the segments of a RecordingQueue and writes each into a file of the
// folder, keeps the index and the retention limits, stops on a full disk and resumes when room comes back.
// Only the Recorder makes one; the shared state it reports (status, index) is guarded by its own mutex.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "record/clip_writer.h"
#include "record/recorder.h"

namespace record {

class Recorder::Encoder {
  public:
    Encoder(const RecorderSettings& settings, RecordingQueue& queue, ReportCallback& report,
            std::vector<IndexEntry> entries);
    ~Encoder();  // stops the thread, finishing the file being written

    // Starts in the stopped state, with the given line, when the folder has no room.
    void Run(const std::string& problem);
    void AddThumbnail(const std::string& event_id, std::vector<std::uint8_t> jpeg);
    RecorderStatus Status() const;
    std::vector<IndexEntry> Recordings() const;
    std::string VideoOfEvent(const std::string& event_id) const;
    bool DeleteRecording(const std::string& video, std::string* error);

  private:
    using Clock = std::chrono::steady_clock;
    struct Thumbnail {
        std::string event_id;
        std::vector<std::uint8_t> jpeg;
        Clock::time_point give_up;
    };

    void Loop();
    void Step();
    bool TakeFrames();  // true when a segment was finished
    void TakePictures();
    void TakeSound();
    void OpenFile(std::int64_t first_micros);
    void FinishFile();
    void StopFor(const std::string& reason);
    void TryResume();
    void NoteDrops();
    void Retain();
    void WriteIndex();
    bool WriteIndexLocked(std::string* error);  // with folder_mutex_ held; any thread
    void WriteThumbnails();
    void Report(const std::string& line) const;
    void UpdateEntry(bool finished);

    const RecorderSettings settings_;
    RecordingQueue& queue_;
    ReportCallback& report_;
    std::thread thread_;
    std::atomic<bool> stop_requested_ = false;

    // The encoder thread's own.
    ClipWriter writer_;
    std::string file_;  // NAME.mp4 being written
    std::chrono::system_clock::time_point file_zero_wall_;
    bool stopped_ = false;
    Clock::time_point retry_at_{}, next_retention_{};
    std::uint64_t drops_at_file_start_ = 0;
    bool drops_reported_ = false, index_failure_reported_ = false, retention_failure_reported_ = false;

    // Shared with the other threads. folder_mutex_ keeps deletions and index writes one at a time; it is
    // taken before mutex_ when both are held.
    std::mutex folder_mutex_;
    mutable std::mutex mutex_;
    RecorderStatus status_;
    std::vector<IndexEntry> entries_;
    std::vector<Thumbnail> thumbnails_;
};

}  // namespace record
