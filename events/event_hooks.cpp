// Running the event hooks, one run at a time per hook, with a time-out.
#include "events/event_hooks.h"

#include <cmath>
#include <sstream>

namespace events {
namespace {

std::vector<std::string> HookEnvironment(const Event& event, const EventFiles& files) {
    const motion::Box& b = event.box;
    return {"TESSALY_EVENT_ID=" + event.id,
            "TESSALY_EVENT_START=" + IsoTime(event.start),
            "TESSALY_EVENT_END=" + (event.end ? IsoTime(*event.end) : std::string()),
            "TESSALY_EVENT_PEAK=" + std::to_string(event.peak),
            "TESSALY_EVENT_BOX=" + std::to_string(b.x) + "," + std::to_string(b.y) + "," +
                std::to_string(b.w) + "," + std::to_string(b.h),
            "TESSALY_EVENT_FILE=" + files.recording,
            "TESSALY_EVENT_THUMBNAIL=" + files.thumbnail};
}

// 30000000 -> "30", 200000 -> "0.2".
std::string SecondsText(std::int64_t micros) {
    std::ostringstream text;
    text << static_cast<double>(micros) / 1e6;
    return text.str();
}

}  // namespace

bool SplitHookCommand(std::string_view text, std::vector<std::string>* argv, std::string* error) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false;
    char quote = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quote != 0) {
            if (c == quote) {
                quote = 0;
            } else {
                word += c;
            }
        } else if (c == '\'' || c == '"') {
            quote = c;
            in_word = true;
        } else if (c == '\\' && i + 1 < text.size()) {
            word += text[++i];
            in_word = true;
        } else if (c == ' ' || c == '\t' || c == '\n') {
            if (in_word) words.push_back(std::move(word));
            word.clear();
            in_word = false;
        } else {
            word += c;
            in_word = true;
        }
    }
    if (quote != 0) {
        *error = "event hook \"" + std::string(text) + "\": a quote is not closed";
        return false;
    }
    if (in_word) words.push_back(std::move(word));
    if (words.empty()) {
        *error = "event hook: no program given";
        return false;
    }
    *argv = std::move(words);
    return true;
}

EventHooks::EventHooks(HookSettings settings, Log log)
    : timeout_micros_(static_cast<std::int64_t>(std::llround(settings.timeout_seconds * 1e6))),
      log_(std::move(log)) {
    start_.name = "on-event-start";
    start_.argv = std::move(settings.on_start);
    end_.name = "on-event-end";
    end_.argv = std::move(settings.on_end);
}

void EventHooks::EventStarted(const Event& event, const EventFiles& files, std::int64_t now_micros) {
    Run(&start_, event, files, now_micros);
}

void EventHooks::EventEnded(const Event& event, const EventFiles& files, std::int64_t now_micros) {
    Run(&end_, event, files, now_micros);
}

void EventHooks::Poll(std::int64_t now_micros) {
    PollHook(&start_, now_micros);
    PollHook(&end_, now_micros);
}

void EventHooks::Run(Hook* hook, const Event& event, const EventFiles& files, std::int64_t now_micros) {
    if (hook->argv.empty()) return;
    PollHook(hook, now_micros);
    if (hook->child.Running()) {
        if (hook->skipped++ == 0) {
            log_("event hook " + std::string(hook->name) + ": " + hook->argv[0] + " still runs, so event " +
                 event.id + " gets no run of it (further skips are only counted)");
        }
        return;
    }
    std::string error;
    if (!hook->child.Start(hook->argv, HookEnvironment(event, files), &error)) {
        if (hook->failed++ == 0) {
            log_("event hook " + std::string(hook->name) + ": " + error +
                 " (further failures are only counted)");
        }
        return;
    }
    hook->started_micros = now_micros;
    hook->killed = false;
}

void EventHooks::PollHook(Hook* hook, std::int64_t now_micros) {
    if (!hook->child.Running()) return;
    platform::ChildExit exit;
    if (hook->child.Reap(&exit)) {
        log_("event hook " + std::string(hook->name) + ": " + hook->argv[0] + " ended, " +
             (hook->killed ? "killed after the " + SecondsText(timeout_micros_) + " s time-out"
                           : platform::DescribeExit(exit)));
        return;
    }
    if (!hook->killed && now_micros - hook->started_micros >= timeout_micros_) {
        hook->child.Kill();
        hook->killed = true;
    }
}

}  // namespace events
