// record_driver: feeds a Recorder in real time with the moving test picture and a 440 Hz tone, and raises
// events at given seconds (with a stand-in thumbnail at each end), as a server's window thread would; the
// recorder's lines go to standard output. The recording tests run it as a child (so that it can be killed, or
// run in a mount namespace of its own).
//
//   record_driver --dir DIR [--seconds 6] [--fps 15] [--pre 3] [--post 5] [--event FROM:TO]...
//                 [--max-mb N] [--min-free-kb N] [--retry-ms N] [--noise AMPLITUDE] [--no-sound]
//                 [--flash-at SECOND]
// --flash-at: silence instead of the tone, but for 0.2 s from that second a 1 kHz beep, while the pictures
// are white: a player in step shows both at once.
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/capture/testpattern.h"
#include "platform/capture/timestamp.h"
#include "record/recorder.h"

namespace {

struct Event {
    double from = 0, to = 0;
    bool started = false, ended = false;
};

struct Options {
    record::RecorderSettings settings;
    double seconds = 6;
    int noise = 0;
    double flash_at = -1;
    std::vector<Event> events;
};

bool Parse(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--no-sound") {
            options->settings.with_sound = false;
            continue;
        }
        if (i + 1 >= argc) return false;
        const std::string value = argv[++i];
        if (name == "--dir") {
            options->settings.folder = value;
        } else if (name == "--seconds") {
            options->seconds = std::stod(value);
        } else if (name == "--fps") {
            options->settings.fps = std::stod(value);
        } else if (name == "--pre") {
            options->settings.pre_capture_seconds = std::stod(value);
        } else if (name == "--post") {
            options->settings.post_capture_seconds = std::stod(value);
        } else if (name == "--max-mb") {
            options->settings.retention.max_bytes = static_cast<std::uint64_t>(std::stod(value) * 1e6);
        } else if (name == "--min-free-kb") {
            options->settings.min_free_bytes = std::stoull(value) * 1024;
        } else if (name == "--retry-ms") {
            options->settings.retry_ms = std::stoi(value);
        } else if (name == "--flash-at") {
            options->flash_at = std::stod(value);
        } else if (name == "--noise") {
            options->noise = std::stoi(value);
        } else if (name == "--event") {
            const auto colon = value.find(':');
            if (colon == std::string::npos) return false;
            options->events.push_back(
                {std::stod(value.substr(0, colon)), std::stod(value.substr(colon + 1))});
        } else {
            return false;
        }
    }
    return !options->settings.folder.empty();
}

void RaiseEvents(record::Recorder& recorder, std::vector<Event>& events, double at, std::int64_t start) {
    for (std::size_t i = 0; i < events.size(); ++i) {
        Event& e = events[i];
        const std::string id = "event-" + std::to_string(i + 1);
        if (!e.started && at >= e.from) {
            e.started = true;
            recorder.EventStarted(id, start + static_cast<std::int64_t>(e.from * 1e6));
        }
        if (!e.ended && at >= e.to) {
            e.ended = true;
            recorder.EventEnded(id, start + static_cast<std::int64_t>(e.to * 1e6));
            recorder.SetThumbnail(id, {0xFF, 0xD8, 0xFF, 0xD9});  // an empty JPEG stands in for the picture
        }
    }
}

bool InFlash(double at, double flash_at) {
    return flash_at >= 0 && at >= flash_at && at < flash_at + 0.2;
}

// Camera noise: every byte moves by up to amplitude either way.
void AddNoise(std::vector<std::uint8_t>& picture, int amplitude, std::uint32_t& state) {
    if (amplitude <= 0) return;
    for (auto& byte : picture) {
        state = state * 1664525u + 1013904223u;
        const int value = byte + static_cast<int>((state >> 24) % (2 * amplitude + 1)) - amplitude;
        byte = static_cast<std::uint8_t>(std::clamp(value, 0, 255));
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    try {
        if (!Parse(argc, argv, &options)) throw std::invalid_argument("usage");
    } catch (const std::exception&) {
        std::fprintf(stderr,
                     "usage: record_driver --dir DIR [--seconds S] [--fps N] [--pre S] [--post S] "
                     "[--event FROM:TO]... [--max-mb N] [--min-free-kb N] [--retry-ms N] [--noise A] "
                     "[--no-sound] [--flash-at S]\n");
        return 2;
    }
    record::Recorder recorder(options.settings, [](const std::string& line) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    });
    std::string error;
    if (!recorder.Start(&error)) {
        std::fprintf(stderr, "record_driver: %s\n", error.c_str());
        return 1;
    }
    platform::TestPattern pattern;
    std::vector<std::uint8_t> picture(platform::TestPattern::kFrameBytes);
    std::array<std::int16_t, record::kSoundBlockSamples> tone{};
    const std::int64_t start = platform::MonotonicMicros();
    const auto picture_micros = static_cast<std::int64_t>(1e6 / options.settings.fps);
    std::int64_t next_picture = start, next_sound = start + record::kSoundBlockMicros;
    std::uint64_t pictures = 0, samples = 0;
    std::uint32_t noise_state = 1;
    for (;;) {
        const std::int64_t due = std::min(next_picture, next_sound);
        if (due - start > static_cast<std::int64_t>(options.seconds * 1e6)) break;
        std::this_thread::sleep_for(
            std::chrono::microseconds(std::max<std::int64_t>(0, due - platform::MonotonicMicros())));
        RaiseEvents(recorder, options.events, static_cast<double>(due - start) / 1e6, start);
        if (due == next_picture) {
            pattern.Render(picture.data(), pictures++, next_picture);
            AddNoise(picture, options.noise, noise_state);
            if (InFlash(static_cast<double>(next_picture - start) / 1e6, options.flash_at))
                std::fill(picture.begin(), picture.end(), 255);
            recorder.AddPicture(picture.data(), next_picture);
            next_picture += picture_micros;
        } else {
            for (auto& sample : tone) {
                const double at = static_cast<double>(samples++) / 8000;
                const double hz = options.flash_at < 0 ? 440 : InFlash(at, options.flash_at) ? 1000 : 0;
                sample = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * hz * at));
            }
            recorder.AddSound(tone, next_sound);
            next_sound += record::kSoundBlockMicros;
        }
    }
    const auto status = recorder.Status();
    recorder.Stop();
    std::printf("driver done: %llu files, %llu pictures dropped%s%s\n",
                static_cast<unsigned long long>(status.files_written +
                                                (status.state == record::RecorderState::kRecording)),
                static_cast<unsigned long long>(status.dropped_pictures), status.problem.empty() ? "" : ", ",
                status.problem.c_str());
    return 0;
}
