// What recording costs. Footage: a real picture of the samples with camera noise and a moving bright square,
// at 15 pictures a second, and an 8 kHz tone.
//   BM_EncodeFootageSecond: CPU for one second of footage (15 pictures, 5 sound blocks) through the file
//                           writer, as fast as it goes: CPU per iteration / 1 s is the share of a core.
//   BM_FeedPicture:         what the window thread spends per picture (conversion into the pre-capture slot).
//   BM_RecorderLive:        a Recorder fed in real time for 8 s (3 s pre-capture, an event from 1 s on):
//                           the whole process's CPU share (both threads), peak resident memory, pictures
//                           lost.
#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "media/picture_file.h"
#include "platform/capture/timestamp.h"
#include "record/clip_writer.h"
#include "record/picture_yuv.h"
#include "record/recorder.h"

namespace {

namespace fs = std::filesystem;
constexpr int kFps = 15;
constexpr std::int64_t kPictureMicros = 1000000 / kFps;
constexpr int kDistinctPictures = 30;

// Two seconds of distinct noisy pictures (BGR, bottom-up), made once.
const std::vector<std::vector<std::uint8_t>>& Footage() {
    static const auto footage = [] {
        std::vector<std::uint8_t> scene;
        std::string error;
        if (!picture_file::ReadPicture(std::string(STREAM_SAMPLES_DIR) + "/building.ppm", scene, &error))
            scene = picture_file::BuiltinPicture();
        std::vector<std::vector<std::uint8_t>> pictures;
        std::uint32_t state = 1;
        for (int n = 0; n < kDistinctPictures; ++n) {
            auto picture = scene;
            for (auto& byte : picture) {
                state = state * 1664525u + 1013904223u;
                byte = static_cast<std::uint8_t>(
                    std::clamp(byte + static_cast<int>((state >> 24) % 13) - 6, 0, 255));
            }
            for (int y = 100; y < 140; ++y)
                for (int x = 0; x < 40 * 3; ++x) picture[y * media::kPictureRowBytes + n * 24 + x] = 250;
            pictures.push_back(std::move(picture));
        }
        return pictures;
    }();
    return footage;
}

std::array<std::int16_t, record::kSoundBlockSamples> Tone(std::uint64_t block) {
    std::array<std::int16_t, record::kSoundBlockSamples> samples{};
    for (int i = 0; i < record::kSoundBlockSamples; ++i) {
        const double t = static_cast<double>(block * record::kSoundBlockSamples + i) / 8000;
        samples[i] = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 440 * t));
    }
    return samples;
}

fs::path ScratchFolder(const char* name) {
    const fs::path folder = fs::temp_directory_path() / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

std::string ProcStatus(const std::string& key) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(key + ":", 0) == 0) return line.substr(key.size() + 1);
    return "0";
}

void BM_EncodeFootageSecond(benchmark::State& state) {
    std::vector<std::vector<std::uint8_t>> yuv;
    for (const auto& picture : Footage()) {
        yuv.emplace_back(record::kYuvBytes);
        record::BgrToYuv420(picture.data(), yuv.back().data());
    }
    const fs::path folder = ScratchFolder("record_bench_encode");
    record::ClipWriter writer;
    std::string error;
    if (!writer.Open((folder / "footage.mp4").string(), {}, 0, &error))
        return state.SkipWithError(error.c_str());
    std::int64_t picture = 0;
    std::uint64_t block = 0;
    for (auto _ : state) {
        for (int n = 0; n < kFps; ++n, ++picture)
            writer.AddPicture(yuv[picture % kDistinctPictures].data(), picture * kPictureMicros, &error);
        for (int n = 0; n < 5; ++n, ++block) {
            const auto tone = Tone(block);
            writer.AddSound(tone, static_cast<std::int64_t>(block) * record::kSoundBlockMicros, &error);
        }
    }
    writer.Close(&error);
    state.counters["kbit_per_s"] = static_cast<double>(fs::file_size(folder / "footage.mp4")) * 8 / 1000 /
                                   static_cast<double>(state.iterations());
    fs::remove_all(folder);
}
BENCHMARK(BM_EncodeFootageSecond)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

void BM_FeedPicture(benchmark::State& state) {
    record::QueueSettings settings;
    record::RecordingQueue queue(settings);
    std::int64_t now = 0;
    for (auto _ : state) {
        queue.AddPicture(Footage()[now % kDistinctPictures].data(), now * kPictureMicros);
        ++now;
    }
}
BENCHMARK(BM_FeedPicture)->Unit(benchmark::kMicrosecond);

void BM_RecorderLive(benchmark::State& state) {
    const fs::path folder = ScratchFolder("record_bench_live");
    Footage();
    state.counters["resident_before_kB"] = std::stod(ProcStatus("VmRSS"));
    const double anon_before = std::stod(ProcStatus("RssAnon"));
    for (auto _ : state) {
        record::RecorderSettings settings;
        settings.folder = folder.string();
        record::Recorder recorder(settings, {});
        std::string error;
        if (!recorder.Start(&error)) return state.SkipWithError(error.c_str());
        const std::int64_t start = platform::MonotonicMicros();
        std::int64_t next_sound = start + record::kSoundBlockMicros;
        for (int n = 0; n < 8 * kFps; ++n) {
            const std::int64_t due = start + n * kPictureMicros;
            std::this_thread::sleep_for(std::chrono::microseconds(due - platform::MonotonicMicros()));
            if (n == kFps) recorder.EventStarted("bench", due);
            recorder.AddPicture(Footage()[n % kDistinctPictures].data(), due);
            if (due >= next_sound) {
                const auto tone = Tone(static_cast<std::uint64_t>(next_sound / record::kSoundBlockMicros));
                recorder.AddSound(tone, next_sound);
                next_sound += record::kSoundBlockMicros;
            }
        }
        state.counters["dropped_pictures"] = static_cast<double>(recorder.Status().dropped_pictures);
        state.counters["resident_recording_kB"] = std::stod(ProcStatus("VmRSS"));
        state.counters["anonymous_added_kB"] = std::stod(ProcStatus("RssAnon")) - anon_before;
        recorder.Stop();
    }
    fs::remove_all(folder);
}
BENCHMARK(BM_RecorderLive)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
