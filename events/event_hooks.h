// The event hooks: --on-event-start CMD and --on-event-end CMD run a program (no shell) when an event
// starts or ends, with the event in its environment:
//   TESSALY_EVENT_ID         20261208-103029
//   TESSALY_EVENT_START      2026-12-08T10:30:29+00:00
//   TESSALY_EVENT_END        the end in the same form; empty for the start hook
//   TESSALY_EVENT_PEAK       the most changed pixels in one picture so far
//   TESSALY_EVENT_BOX        x,y,w,h around every change so far (y from the top)
//   TESSALY_EVENT_FILE       the recording's path; empty without recording
//   TESSALY_EVENT_THUMBNAIL  the thumbnail's path; empty when none is written
// Each hook runs at most once at a time: an event that comes while its run still goes gets none (the first
// such skip is logged, later ones are counted). A run still going after the time-out (default 30 s) is
// killed with whatever it started. Each run's end is logged as one line with its exit status; a program
// that cannot be started is logged once and later failures are counted.
//
// How the server feeds it: EventStarted and EventEnded when the tracker reports them (write the thumbnail
// first), Poll from the event loop (every picture or a timer of a second or less) to log ended runs and
// enforce the time-out. Times are the caller's monotonic microseconds; nothing here waits.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "events/event_tracker.h"
#include "platform/process/child_process.h"

namespace events {

struct HookSettings {
    std::vector<std::string> on_start;  // the program and its arguments; empty: no hook
    std::vector<std::string> on_end;
    double timeout_seconds = 30;
};

// Splits a hook's command line into the program and its arguments: words separated by blanks; single or
// double quotes keep blanks in a word, a backslash keeps the next character. Nothing is expanded. False
// with *error for an empty command or an unclosed quote.
bool SplitHookCommand(std::string_view text, std::vector<std::string>* argv, std::string* error);

// Where the event's files are, for the hook's environment.
struct EventFiles {
    std::string recording;
    std::string thumbnail;
};

class EventHooks {
  public:
    using Log = std::function<void(const std::string& line)>;

    EventHooks(HookSettings settings, Log log);

    void EventStarted(const Event& event, const EventFiles& files, std::int64_t now_micros);
    void EventEnded(const Event& event, const EventFiles& files, std::int64_t now_micros);
    void Poll(std::int64_t now_micros);

    // Runs that were not started: their hook was still running, or the program could not be started.
    long SkippedStarts() const { return start_.skipped; }
    long SkippedEnds() const { return end_.skipped; }
    long FailedStarts() const { return start_.failed; }
    long FailedEnds() const { return end_.failed; }

  private:
    struct Hook {
        const char* name;  // "on-event-start"
        std::vector<std::string> argv;
        platform::ChildProcess child;
        std::int64_t started_micros = 0;
        bool killed = false;
        long skipped = 0;
        long failed = 0;
    };
    void Run(Hook* hook, const Event& event, const EventFiles& files, std::int64_t now_micros);
    void PollHook(Hook* hook, std::int64_t now_micros);

    std::int64_t timeout_micros_;
    Log log_;
    Hook start_;
    Hook end_;
};

}  // namespace events
