#include "record/event_recorder.h"

namespace record {

bool CheckRecorderSettings(const RecorderSettings& settings, std::string* error) {
    if (settings.folder.empty()) {
        *error = "the recordings' folder is not given";
    } else if (!(settings.fps > 0 && settings.fps <= 120)) {
        *error = "the capture rate must be above 0 and at most 120 pictures a second";
    } else if (!(settings.pre_capture_seconds >= 0 && settings.pre_capture_seconds <= 60)) {
        *error = "--pre-capture must be 0 to 60 seconds";
    } else if (!(settings.post_capture_seconds >= 0 && settings.post_capture_seconds <= 600)) {
        *error = "--post-capture must be 0 to 600 seconds";
    } else if (settings.retention.max_days < 0) {
        *error = "--record-max-days must not be negative";
    } else if (settings.retry_ms < 100) {
        *error = "the retry interval must be at least 100 ms";
    } else {
        return true;
    }
    return false;
}

}  // namespace record
