// EventRecorder: what a program asks of the recorder, without the libraries that encode. The recorder
// itself (recorder.h, on FFmpeg's libraries) implements it; Tessaly loads it from a library of its own
// (record.so) only when it is asked to record, so that the server installs and runs without those libraries.
//
// The calls and their threads are Recorder's (recorder.h): the window thread feeds pictures, sound and
// events; Status, VideoOfEvent and DeleteRecording may be called from any thread; the report callback is
// called on the encoder thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "record/recording_folder.h"

namespace record {

inline constexpr int kSoundBlockSamples = 1600;  // 0.2 s at 8 kHz

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

// Checks settings before a program starts; false and a line for the user when one is out of range.
bool CheckRecorderSettings(const RecorderSettings& settings, std::string* error);

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

class EventRecorder {
  public:
    using ReportCallback = std::function<void(const std::string& line)>;

    virtual ~EventRecorder() = default;

    virtual bool Start(std::string* error) = 0;
    virtual void Stop() = 0;

    // ---- The window thread ----
    virtual void AddPicture(const std::uint8_t* bgr_bottom_up, std::int64_t capture_micros) = 0;
    virtual void AddSound(std::span<const std::int16_t, kSoundBlockSamples> samples,
                          std::int64_t end_micros) = 0;
    virtual void EventStarted(const std::string& id, std::int64_t start_micros) = 0;
    virtual void EventEnded(const std::string& id, std::int64_t end_micros) = 0;
    virtual void SetThumbnail(const std::string& event_id, std::vector<std::uint8_t> jpeg) = 0;

    // ---- Any thread ----
    virtual RecorderStatus Status() const = 0;
    virtual std::string VideoOfEvent(const std::string& event_id) const = 0;
    virtual bool DeleteRecording(const std::string& video, std::string* error) = 0;
};

// Makes a recorder; a program that records gets it from the recorder's library.
using MakeEventRecorder = std::function<std::unique_ptr<EventRecorder>(const RecorderSettings& settings,
                                                                       EventRecorder::ReportCallback)>;

// The recorder library's entry point, exported by record.so under kMakeEventRecorderEntry: a new recorder
// that the caller owns.
using MakeEventRecorderEntry = EventRecorder* (*)(const RecorderSettings& settings,
                                                  EventRecorder::ReportCallback report);
inline constexpr const char* kMakeEventRecorderEntry = "record_make_event_recorder";

}  // namespace record
