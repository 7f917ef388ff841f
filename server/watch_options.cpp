#include "server/watch_options.h"

#include <cmath>

namespace tessaly {

namespace {

const char* const kTuningOptions[] = {"motion-threshold",   "motion-frames",  "motion-despeckle",
                                      "motion-lightswitch", "motion-mask",    "event-gap",
                                      "motion-alarm",       "on-event-start", "on-event-end"};
const char* const kRecordOptions[] = {"pre-capture", "post-capture", "record-max-mb", "record-max-days"};

std::string Value(const QCommandLineParser& parser, const char* name) {
    return parser.value(name).toStdString();
}

// A decimal number from low to high; false otherwise (with *error naming the option and the range).
bool ReadSeconds(const QCommandLineParser& parser, const char* name, double low, double high, double* out,
                 std::string* error) {
    if (!parser.isSet(name)) return true;
    bool ok = false;
    const double value = parser.value(name).toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < low || value > high) {
        *error = "bad --" + std::string(name) + " '" + Value(parser, name) + "' (seconds, " +
                 QString::number(low).toStdString() + " to " + QString::number(high).toStdString() + ")";
        return false;
    }
    *out = value;
    return true;
}

bool ReadWhole(const QCommandLineParser& parser, const char* name, long low, long high, long* out,
               std::string* error) {
    if (!parser.isSet(name)) return true;
    bool ok = false;
    const long value = parser.value(name).toLong(&ok);
    if (!ok || value < low || value > high) {
        *error = "bad --" + std::string(name) + " '" + Value(parser, name) + "' (a whole number, " +
                 std::to_string(low) + " to " + std::to_string(high) + ")";
        return false;
    }
    *out = value;
    return true;
}

bool ReadDetector(const QCommandLineParser& parser, WatchSettings* watch, std::string* error) {
    motion::MotionSettings& detector = watch->detector;
    if (parser.isSet("motion-threshold") &&
        !motion::ParseMotionThreshold(Value(parser, "motion-threshold"), &detector.threshold, error)) {
        *error = "--motion-threshold: " + *error;
        return false;
    }
    long frames = detector.frames;
    long lightswitch = detector.lightswitch_percent;
    if (!ReadWhole(parser, "motion-frames", 1, 100, &frames, error) ||
        !ReadWhole(parser, "motion-lightswitch", 1, 100, &lightswitch, error)) {
        return false;
    }
    detector.frames = static_cast<int>(frames);
    detector.lightswitch_percent = static_cast<int>(lightswitch);
    if (parser.isSet("motion-despeckle")) {
        const std::string value = Value(parser, "motion-despeckle");
        if (value != "on" && value != "off") {
            *error = "bad --motion-despeckle '" + value + "' (on or off)";
            return false;
        }
        detector.despeckle = value == "on";
    }
    if (parser.isSet("motion-mask")) {
        detector.mask_path = Value(parser, "motion-mask");
        if (!motion::ReadMotionMask(detector.mask_path, &watch->mask, error)) return false;
    }
    return ReadSeconds(parser, "event-gap", 0.5, 3600, &watch->event_gap_seconds, error);
}

bool ReadHook(const QCommandLineParser& parser, const char* name, std::vector<std::string>* argv,
              std::string* error) {
    if (!parser.isSet(name)) return true;
    if (events::SplitHookCommand(Value(parser, name), argv, error)) return true;
    *error = "--" + std::string(name) + ": " + *error;
    return false;
}

bool ReadRecording(const QCommandLineParser& parser, WatchSettings* watch, std::string* error) {
    record::RecorderSettings& recorder = watch->recorder;
    long max_mb = 0;
    long max_days = 0;
    if (!ReadSeconds(parser, "pre-capture", 0, 60, &recorder.pre_capture_seconds, error) ||
        !ReadSeconds(parser, "post-capture", 0, 600, &recorder.post_capture_seconds, error) ||
        !ReadWhole(parser, "record-max-mb", 0, 100'000'000, &max_mb, error) ||
        !ReadWhole(parser, "record-max-days", 0, 100'000, &max_days, error)) {
        return false;
    }
    recorder.retention.max_bytes = static_cast<std::uint64_t>(max_mb) * 1'000'000;
    recorder.retention.max_days = static_cast<int>(max_days);
    if (!parser.isSet("record")) return true;
    recorder.folder = Value(parser, "record");
    if (recorder.folder.empty()) {
        *error = "--record needs a folder";
        return false;
    }
    watch->record = true;
    return true;
}

}  // namespace

void AddWatchOptions(QCommandLineParser* parser) {
    parser->addOptions({
        {"motion", "Watch the picture for motion: events are printed, shown and offered on the web page."},
        {"motion-threshold",
         "Changed pixels that make a picture a motion picture: a count (1500) or a percentage of the picture "
         "(2%). Default 1%.",
         "N|P%"},
        {"motion-frames", "Motion pictures in a row before an event starts (default 3).", "N"},
        {"motion-despeckle", "Drop isolated changed pixels before counting (default on).", "on|off"},
        {"motion-lightswitch",
         "More than P percent of the picture changing at once is a light switched on or off, not motion "
         "(default 50).",
         "P"},
        {"motion-mask", "A 320 x 240 PGM whose black pixels are never counted.", "FILE"},
        {"event-gap", "An event ends this many seconds after its last motion (default 10).", "S"},
        {"motion-alarm", "With the security mode on, an event's start plays the alarm."},
        {"on-event-start",
         "Run CMD (no shell) when an event starts, with TESSALY_EVENT_ID, TESSALY_EVENT_START, "
         "TESSALY_EVENT_FILE... in its environment; killed after 30 s.",
         "CMD"},
        {"on-event-end", "Run CMD when an event ends (as --on-event-start; TESSALY_EVENT_END is set).",
         "CMD"},
        {"record",
         "Record each event into DIR (turns --motion on): an MP4 with the picture and the sound, and its "
         "thumbnail.",
         "DIR"},
        {"pre-capture", "Seconds recorded before an event's start (default 3).", "S"},
        {"post-capture", "Seconds recorded after an event's end (default 5).", "S"},
        {"record-max-mb", "Delete the oldest recordings beyond N megabytes (default 0: no limit).", "N"},
        {"record-max-days", "Delete recordings older than N days (default 0: no limit).", "N"},
    });
}

bool ReadWatchOptions(const QCommandLineParser& parser, WatchSettings* watch, std::string* error) {
    if (!ReadRecording(parser, watch, error)) return false;
    watch->motion = parser.isSet("motion") || watch->record;
    for (const char* name : kTuningOptions) {
        if (parser.isSet(name) && !watch->motion) {
            *error = "--" + std::string(name) + " needs --motion (or --record)";
            return false;
        }
    }
    for (const char* name : kRecordOptions) {
        if (parser.isSet(name) && !watch->record) {
            *error = "--" + std::string(name) + " needs --record DIR";
            return false;
        }
    }
    watch->alarm = parser.isSet("motion-alarm");
    return ReadDetector(parser, watch, error) &&
           ReadHook(parser, "on-event-start", &watch->hooks.on_start, error) &&
           ReadHook(parser, "on-event-end", &watch->hooks.on_end, error);
}

}  // namespace tessaly
