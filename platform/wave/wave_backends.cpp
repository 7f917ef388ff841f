// The backends paced by the device clock (tone, file, null) and the choice between all backends.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <numbers>
#include <set>

#include "platform/wave/wave_file.h"
#include "platform/wave/wave_internal.h"

namespace platform::wave_internal {
namespace {

constexpr int kDefaultToneHz = 440;
constexpr double kToneAmplitude = 8000.0;  // about -12 dB of full scale

struct Choice {
    std::string kind;  // alsa, tone, file, null, none, auto
    std::string arg;   // after the first ':', "" when absent
    bool has_arg = false;
};

Choice Split(const std::string& text) {
    Choice s;
    const std::size_t colon = text.find(':');
    s.kind = text.substr(0, colon);
    if (colon != std::string::npos) {
        s.arg = text.substr(colon + 1);
        s.has_arg = true;
    }
    return s;
}

bool ParseHz(const std::string& text, int& hz) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, hz);
    return ec == std::errc() && ptr == end && hz > 0;
}

// A sine tone; each sample depends only on its stream position, so the phase runs on across lost time.
class ToneBackend : public WaveBackend {
  public:
    ToneBackend(int hz, unsigned rate) : hz_(hz), rate_(rate) {}
    long Transfer(char* data, std::size_t count, std::int64_t position) override {
        for (std::size_t i = 0; i < count; ++i) {
            const std::int64_t cycle =
                (static_cast<std::int64_t>(hz_) * (position + static_cast<std::int64_t>(i))) %
                static_cast<std::int64_t>(rate_);
            const double phase = 2 * std::numbers::pi * static_cast<double>(cycle) / rate_;
            const auto v = static_cast<std::int16_t>(std::lround(kToneAmplitude * std::sin(phase)));
            std::memcpy(data + 2 * i, &v, 2);
        }
        return static_cast<long>(count);
    }

  private:
    int hz_;
    unsigned rate_;
};

// The samples of a WAV file, looped; the position in the file follows the stream position.
class FileBackend : public WaveBackend {
  public:
    explicit FileBackend(std::vector<std::int16_t> samples) : samples_(std::move(samples)) {}
    long Transfer(char* data, std::size_t count, std::int64_t position) override {
        const std::size_t size = samples_.size();
        std::size_t at = static_cast<std::size_t>(position % static_cast<std::int64_t>(size));
        for (std::size_t i = 0; i < count; ++i) {
            std::memcpy(data + 2 * i, &samples_[at], 2);
            if (++at == size) at = 0;
        }
        return static_cast<long>(count);
    }

  private:
    std::vector<std::int16_t> samples_;
};

// Paths that a null output is recording to, so that two devices never write the same file.
std::mutex& RecordingMutex() {
    static std::mutex m;
    return m;
}
std::set<std::string>& RecordingPaths() {
    static std::set<std::string> paths;
    return paths;
}

// Plays nothing; with a path it appends every sample it is given to a WAV file.
class NullBackend : public WaveBackend {
  public:
    ~NullBackend() override {
        if (path_.empty()) return;
        std::lock_guard lock(RecordingMutex());
        RecordingPaths().erase(path_);
    }
    bool Open(const std::string& path, unsigned rate, std::string* error) {
        if (path.empty()) return true;
        {
            std::lock_guard lock(RecordingMutex());
            if (!RecordingPaths().insert(path).second) {
                std::fprintf(stderr,
                             "sound output: %s is already being recorded; this device records nothing\n",
                             path.c_str());
                return true;
            }
        }
        path_ = path;
        return writer_.Open(path, rate, error);
    }
    long Transfer(char* data, std::size_t count, std::int64_t) override {
        std::int16_t chunk[256];
        for (std::size_t done = 0; done < count;) {
            const std::size_t n = std::min(count - done, std::size(chunk));
            std::memcpy(chunk, data + 2 * done, 2 * n);
            writer_.Append(std::span<const std::int16_t>(chunk, n));
            done += n;
        }
        return static_cast<long>(count);
    }

  private:
    std::string path_;
    WavWriter writer_;
};

std::unique_ptr<WaveBackend> OpenFile(const std::string& path, unsigned rate, std::string* error) {
    WavSound sound;
    if (!ReadWavFile(path, sound, error)) return nullptr;
    if (sound.rate != rate) {
        *error = path + ": " + std::to_string(sound.rate) + " samples per second; the input needs " +
                 std::to_string(rate) + " (convert it, e.g. ffmpeg -i IN -ar " + std::to_string(rate) +
                 " -ac 1 OUT.wav)";
        return nullptr;
    }
    if (sound.samples.empty()) {
        *error = path + ": holds no samples";
        return nullptr;
    }
    return std::make_unique<FileBackend>(std::move(sound.samples));
}

std::unique_ptr<WaveBackend> OpenNull(const std::string& path, std::string* error, unsigned rate) {
    auto backend = std::make_unique<NullBackend>();
    if (!backend->Open(path, rate, error)) return nullptr;
    return backend;
}

// Prints once per process that `auto` found no sound card for output.
void NoteOutputFallback(const std::string& why) {
    static std::once_flag once;
    std::call_once(once, [&] {
        std::fprintf(stderr, "sound output: no sound card (%s); sound is not played\n", why.c_str());
    });
}

}  // namespace

bool ValidBackendChoice(bool input, const std::string& text, std::string* error) {
    const Choice s = Split(text);
    const char* direction = input ? "input" : "output";
    if (s.kind == "none" || s.kind == "auto") {
        if (!s.has_arg) return true;
    } else if (s.kind == "alsa") {
#ifndef STREAM_HAVE_ALSA
        *error = "this build has no ALSA support; use " +
                 std::string(input ? "tone, file:PATH.wav" : "null") + " or none";
        return false;
#endif
        if (!s.has_arg || !s.arg.empty()) return true;
    } else if (input && s.kind == "tone") {
        int hz = 0;
        if (!s.has_arg || ParseHz(s.arg, hz)) return true;
        *error = "tone:HZ needs a whole number of hertz above 0, not '" + s.arg + "'";
        return false;
    } else if (input && s.kind == "file") {
        if (!s.arg.empty()) return true;
    } else if (!input && s.kind == "null") {
        if (!s.has_arg || !s.arg.empty()) return true;
    }
    *error = "'" + text + "' is no sound " + direction + "; choose one of " +
             (input ? "auto, alsa[:NAME], tone[:HZ], file:PATH.wav, none"
                    : "auto, alsa[:NAME], null, null:PATH.wav, none");
    return false;
}

std::unique_ptr<WaveBackend> OpenBackend(bool input, const std::string& text, unsigned rate,
                                         std::string* error) {
    if (!ValidBackendChoice(input, text, error)) return nullptr;
    const Choice s = Split(text);
    if (s.kind == "none") {
        error->clear();
        return nullptr;
    }
    if (s.kind == "alsa" || s.kind == "auto") {
        const std::string name = s.arg.empty() ? "default" : s.arg;
        auto card = OpenAlsaBackend(input, name, rate, error);
        if (card || s.kind == "alsa") return card;
        if (input) {
            *error = "no sound card to record from (" + *error +
                     "); tone[:HZ] or file:PATH.wav can stand in for one";
            return nullptr;
        }
        NoteOutputFallback(*error);
        return OpenNull("", error, rate);
    }
    if (s.kind == "tone") {
        int hz = kDefaultToneHz;
        if (s.has_arg) ParseHz(s.arg, hz);
        if (2 * static_cast<unsigned>(hz) >= rate) {
            *error = "tone:" + std::to_string(hz) + " is not below half the sample rate (" +
                     std::to_string(rate) + ")";
            return nullptr;
        }
        return std::make_unique<ToneBackend>(hz, rate);
    }
    if (s.kind == "file") return OpenFile(s.arg, rate, error);
    return OpenNull(s.arg, error, rate);
}

}  // namespace platform::wave_internal
