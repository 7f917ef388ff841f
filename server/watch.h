// Tessaly watching by itself: every captured picture goes through the motion detector and the event
// tracker, every picture and sound block into the recorder's pre-capture buffer; an event's start and end
// are printed as one line each, run the event hooks, raise the alarm when asked to, write the event's
// thumbnail and begin and end its recording. Made by the main window from the command line's settings and
// fed from the server's picture and sound consumers; everything here runs on the window thread, except the
// recorder's own encoder thread.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/CWAVE.h"
#include "events/event_hooks.h"
#include "events/event_tracker.h"
#include "motion/motion_detector.h"
#include "record/event_recorder.h"
#include "server/consumers.h"
#include "server/watch_settings.h"
#include "web/jpeg_encoder.h"

namespace tessaly {

// One event as the watch keeps it for the page: the event, its recording's name (NAME.mp4, empty while
// unknown or without recording) and its thumbnail (JPEG; empty until the first motion picture is drawn).
struct WatchedEvent {
    events::Event event;
    std::string video;
    std::vector<std::uint8_t> thumbnail;
};

// Where the watch tells what happened. Print may be called from the recorder's thread too.
struct WatchOutlets {
    std::function<void(const std::string& line)> print;
    std::function<void()> alarm;  // an event started and --motion-alarm was given
    // An event started (ended false) or ended; the window's status and the web face follow it.
    std::function<void(const WatchedEvent& event, bool ended)> event_changed;
};

// The event as the web face and other programs get it: its thumbnail at /events/ID.jpg, its video at
// /recordings/NAME.mp4 once known.
std::string WatchedEventJson(const WatchedEvent& event);

class Watch {
  public:
    static constexpr std::size_t kKeptEvents = 200;  // events kept for the page, newest last

    Watch(const WatchSettings& settings, WatchOutlets outlets);
    ~Watch();
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

    // Starts the recorder when recording was asked for; false with one line when its folder cannot be used
    // or no recorder was given (settings.make_recorder).
    bool Start(std::string* error);
    // Ends a running event now and stops the recorder, finishing its file.
    void Stop();

    void TakePicture(const CapturedPicture& picture);
    void TakeSound(const CapturedSound& sound);
    // From a timer of the window thread: ends an event whose gap has passed though pictures stopped coming,
    // and looks after the hooks' programs.
    void Tick(std::int64_t now_micros);

    bool EventLasts() const { return tracker_.Running() != nullptr; }
    // Events that started on today's local date.
    int EventsToday() const;
    // The events kept, oldest first, with the names of their recordings as far as known.
    const std::deque<WatchedEvent>& Events();
    // The recorder, when recording; for the web face's recordings.
    record::EventRecorder* Recorder() { return recorder_.get(); }

  private:
    void Started(const events::Event& event);
    void Ended(const events::Event& event);
    void RunStartHook(std::int64_t now_micros, bool now);
    WatchedEvent& Keep(const events::Event& event);
    void DrawThumbnail(const events::Event& event, WatchedEvent* kept);
    events::EventFiles FilesOf(const WatchedEvent& kept) const;
    void Print(const std::string& line) const;

    WatchSettings settings_;
    WatchOutlets outlets_;
    motion::MotionDetector detector_;
    events::EventTracker tracker_;
    events::EventHooks hooks_;
    std::unique_ptr<record::EventRecorder> recorder_;
    const CWAVE sound_expander_;
    web::JpegEncoder jpeg_encoder_;
    std::vector<std::uint8_t> thumbnail_picture_;
    std::vector<std::uint8_t> jpeg_;
    std::array<std::int16_t, record::kSoundBlockSamples> samples_{};
    std::deque<WatchedEvent> kept_;
    std::string today_;  // the local date of the last start, "20261208"
    int today_count_ = 0;
    // While recording, the start hook waits for the recorder to name the event's file (on its own thread),
    // so that the hook gets TESSALY_EVENT_FILE; at most kStartHookWaitMicros, and never past the event's end.
    static constexpr std::int64_t kStartHookWaitMicros = 2000000;
    std::string start_hook_event_;  // the event whose start hook waits; empty when none does
    std::int64_t start_hook_due_micros_ = 0;
};

}  // namespace tessaly
