// Detection rates on the test footage (tests/motion_footage.h) through the detector and the event tracker
// with their default settings, as tessaly --motion runs them at 15 pictures a second: for each sample
// picture, a walker (an event is due, starting within 3 pictures of its entry) and the clips where none is
// due (camera noise and specks, slow daylight drift, a light switched off and on). Prints one line per
// clip kind: events found, late or missed walkers, false events.
//
//   build/bin/watch_rates
#include <cstdio>
#include <string>
#include <vector>

#include "events/event_tracker.h"
#include "motion/motion_detector.h"
#include "motion_footage.h"

namespace {

constexpr std::int64_t kPictureMicros = 1'000'000 / 15;
const char* const kBackgrounds[] = {"building", "butterfly", "coins", "fruits", "ihc"};

// The pictures at which events started.
std::vector<int> EventStarts(const footage::Script& script) {
    footage::FootageMaker maker(script, STREAM_SAMPLES_DIR);
    if (!maker.Ok()) {
        std::fprintf(stderr, "watch_rates: %s\n", maker.Error().c_str());
        return {};
    }
    motion::MotionDetector detector{motion::MotionSettings()};
    events::EventTracker tracker;
    std::vector<int> starts;
    for (int i = 0; i < script.frames; ++i) {
        const footage::Picture& picture = maker.Next();
        const events::PictureTime time{i * kPictureMicros, {1796725800 + i / 15, 0}};
        if (tracker.Update(detector.Process(picture.data()), picture.data(), time).started)
            starts.push_back(i);
    }
    return starts;
}

}  // namespace

int main() {
    int walkers = 0, found = 0, late = 0, false_events = 0, quiet_clips = 0;
    for (const char* background : kBackgrounds) {
        footage::Script walker{.background = background, .frames = 150, .object_from = 40, .object_to = 100};
        const std::vector<int> starts = EventStarts(walker);
        ++walkers;
        if (!starts.empty() && starts[0] >= 40 && starts[0] <= 43) ++found;
        if (!starts.empty() && starts[0] > 43) ++late;
        for (const int start : starts) false_events += start < 40 ? 1 : 0;
        const footage::Script quiet[] = {
            {.background = background, .frames = 300, .noise_sigma = 6, .specks_percent = 0.5},
            {.background = background, .frames = 300, .drift_per_frame = 0.2},
            {.background = background, .frames = 300, .light_off_at = 60, .light_on_at = 180},
        };
        for (const footage::Script& clip : quiet) {
            ++quiet_clips;
            false_events += static_cast<int>(EventStarts(clip).size());
        }
    }
    std::printf("walkers: %d of %d found within 3 pictures of their entry, %d late\n", found, walkers, late);
    std::printf(
        "false events: %d in %d quiet clips of 20 s (noise and specks, drift, light switch) and before "
        "the walkers\n",
        false_events, quiet_clips);
    return 0;
}
