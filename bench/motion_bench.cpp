// Motion detection time per picture, on the halved and on the full-size picture, over a noisy clip of a
// sample picture with an object moving through it (tests/motion_footage.h); and the event tracker's time
// per picture while an event lasts.
//
//   build/bin/motion_bench                        (5 repetitions unless --benchmark_repetitions is given)
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "events/event_tracker.h"
#include "motion/motion_detector.h"
#include "motion_footage.h"

namespace {

constexpr int kClipFrames = 64;

std::vector<footage::Picture> Clip() {
    footage::Script script;
    script.frames = kClipFrames;
    script.object_from = 16;
    script.object_to = kClipFrames;
    footage::FootageMaker maker(script, STREAM_SAMPLES_DIR);
    std::vector<footage::Picture> clip;
    if (!maker.Ok()) return clip;
    for (int i = 0; i < kClipFrames; ++i) clip.push_back(maker.Next());
    return clip;
}

void Detect(benchmark::State& state, bool half_size) {
    const std::vector<footage::Picture> clip = Clip();
    if (clip.empty()) {
        state.SkipWithError("the sample pictures are missing");
        return;
    }
    motion::MotionSettings settings;
    settings.half_size = half_size;
    motion::MotionDetector detector(settings);
    std::size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(detector.Process(clip[next].data()));
        next = (next + 1) % clip.size();
    }
    state.SetItemsProcessed(state.iterations());
}

void TrackEvents(benchmark::State& state) {
    const std::vector<footage::Picture> clip = Clip();
    if (clip.empty()) {
        state.SkipWithError("the sample pictures are missing");
        return;
    }
    events::EventTracker tracker;
    motion::MotionResult result{
        .changed_pixels = 2400, .box = {100, 90, 40, 60}, .motion = true, .learning = false};
    events::PictureTime time{.monotonic_micros = 0,
                             .wall = {.unix_seconds = 1796725829, .utc_offset_minutes = 0}};
    std::size_t next = 0;
    for (auto _ : state) {
        time.monotonic_micros += 66667;
        ++result.changed_pixels;  // a new peak each picture: the thumbnail's copy is always paid
        benchmark::DoNotOptimize(tracker.Update(result, clip[next].data(), time));
        next = (next + 1) % clip.size();
    }
}

}  // namespace

BENCHMARK_CAPTURE(Detect, half_size, true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Detect, full_size, false)->Unit(benchmark::kMicrosecond);
BENCHMARK(TrackEvents)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    std::vector<char*> args(argv, argv + argc);
    std::string repetitions = "--benchmark_repetitions=5",
                aggregates = "--benchmark_report_aggregates_only=true";
    bool given = false;
    for (char* a : args) given = given || std::string(a).starts_with("--benchmark_repetitions");
    if (!given) {
        args.push_back(repetitions.data());
        args.push_back(aggregates.data());
    }
    args.push_back(nullptr);
    int count = static_cast<int>(args.size()) - 1;
    benchmark::Initialize(&count, args.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
