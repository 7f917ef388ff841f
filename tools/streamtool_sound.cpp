// streamtool sound subcommands: compress and expand sound as it travels in sound blocks, play a sound
// through the receivers' playback queue with network jitter, and make the server's sound files.
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "audio/CWAVE.h"
#include "platform/wave/wave.h"
#include "platform/wave/wave_file.h"
#include "platform/window/timer.h"
#include "platform/window/window.h"
#include "server/server_sounds.h"
#include "tools/streamtool.h"

namespace streamtool {
namespace {

constexpr int kRate = 8000;
constexpr int kTargetDepth = 3;  // the receivers' target depth of the playback queue

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

bool ReadBytes(const std::string& path, std::vector<std::uint8_t>& bytes, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = path + ": cannot be read";
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool WriteBytes(const std::string& path, const void* data, std::size_t size, std::string* error) {
    std::ofstream out(path, std::ios::binary);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) *error = path + ": cannot be written";
    return static_cast<bool>(out);
}

// Samples from a WAV file of exactly 8,000 Hz, 16-bit mono, or from raw 16-bit little-endian samples.
bool ReadSamples(const std::string& path, std::vector<std::int16_t>& samples, std::string* error) {
    if (EndsWith(path, ".wav")) {
        platform::WavSound sound;
        if (!platform::ReadWavFile(path, sound, error)) return false;
        if (sound.rate != kRate || sound.bits != 16 || sound.channels != 1) {
            *error = path + ": " + std::to_string(sound.rate) + " Hz, " + std::to_string(sound.bits) +
                     "-bit, " + std::to_string(sound.channels) +
                     " channel(s); sound blocks need 8000 Hz 16-bit mono "
                     "(e.g. ffmpeg -i IN -ar 8000 -ac 1 -sample_fmt s16 OUT.wav)";
            return false;
        }
        samples = std::move(sound.samples);
        return true;
    }
    if (!EndsWith(path, ".s16le")) {
        *error = path + ": give a .wav file or raw samples in a .s16le file";
        return false;
    }
    std::vector<std::uint8_t> bytes;
    if (!ReadBytes(path, bytes, error)) return false;
    if (bytes.size() % 2 != 0) {
        *error = path + ": an odd number of bytes is no whole number of 16-bit samples";
        return false;
    }
    samples.resize(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    }
    return true;
}

bool WriteSamples(const std::string& path, const std::vector<std::int16_t>& samples, std::string* error) {
    if (EndsWith(path, ".wav")) return platform::WriteWavFile(path, kRate, samples, error);
    if (!EndsWith(path, ".s16le")) {
        *error = path + ": the output must end in .wav or .s16le";
        return false;
    }
    std::vector<std::uint8_t> bytes(2 * samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        bytes[2 * i] = static_cast<std::uint8_t>(samples[i]);
        bytes[2 * i + 1] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(samples[i]) >> 8);
    }
    return WriteBytes(path, bytes.data(), bytes.size(), error);
}

int SoundCompress(const std::vector<std::string>& args) {
    if (args.size() != 2) return Fail("sound-compress", "needs IN and OUT (see --help)");
    std::string error;
    std::vector<std::int16_t> samples;
    if (!ReadSamples(args[0], samples, &error)) return Fail("sound-compress", error);
    CWAVE wave;
    std::vector<std::uint8_t> bytes(samples.size());
    wave.WaveCompress(samples, bytes);
    if (!WriteBytes(args[1], bytes.data(), bytes.size(), &error)) return Fail("sound-compress", error);
    std::printf("%zu samples -> %zu bytes (%.2f s, %zu sound blocks)\n", samples.size(), bytes.size(),
                samples.size() / double(kRate),
                (bytes.size() + CWAVE::kBlockSamples - 1) / CWAVE::kBlockSamples);
    return 0;
}

int SoundExpand(const std::vector<std::string>& args) {
    if (args.size() != 2) return Fail("sound-expand", "needs IN and OUT (see --help)");
    std::string error;
    std::vector<std::uint8_t> bytes;
    if (!ReadBytes(args[0], bytes, &error)) return Fail("sound-expand", error);
    CWAVE wave;
    std::vector<std::int16_t> samples(bytes.size());
    wave.WaveExpand(bytes, samples);
    if (!WriteSamples(args[1], samples, &error)) return Fail("sound-expand", error);
    std::printf("%zu bytes -> %zu samples (%.2f s)\n", bytes.size(), samples.size(),
                samples.size() / double(kRate));
    return 0;
}

int MakeSounds(const std::vector<std::string>& args) {
    if (args.size() != 1) return Fail("make-sounds", "needs the folder DIR (see --help)");
    std::error_code ec;
    std::filesystem::create_directories(args[0], ec);
    std::string error;
    if (!tessaly::WriteServerSounds(args[0], &error)) return Fail("make-sounds", error);
    std::printf("wrote %s/stream.wav and %s/danger.wav\n", args[0].c_str(), args[0].c_str());
    return 0;
}

struct PlaybackOptions {
    std::string output = "auto";
    int jitter_ms = 0;
    unsigned seed = 1;
    std::string input;
};

bool ParsePlayback(const std::vector<std::string>& args, PlaybackOptions& o, std::string* error) {
    QCommandLineParser parser;
    QCommandLineOption out("audio-out", "output backend", "BACKEND", "auto");
    QCommandLineOption jitter("jitter-ms", "arrival jitter", "N", "0");
    QCommandLineOption seed("seed", "jitter seed", "N", "1");
    parser.addOptions({out, jitter, seed});
    QStringList list{"playback"};
    for (const std::string& a : args) list << QString::fromStdString(a);
    if (!parser.parse(list)) {
        *error = parser.errorText().toStdString();
        return false;
    }
    bool ok_jitter = false, ok_seed = false;
    o.output = parser.value(out).toStdString();
    o.jitter_ms = parser.value(jitter).toInt(&ok_jitter);
    o.seed = parser.value(seed).toUInt(&ok_seed);
    if (!ok_jitter || o.jitter_ms < 0 || o.jitter_ms > 10000) {
        *error = "--jitter-ms takes a whole number of milliseconds from 0 to 10000";
        return false;
    }
    if (!ok_seed) {
        *error = "--seed takes a whole number";
        return false;
    }
    if (parser.positionalArguments().size() != 1) {
        *error = "needs one input file IN (see --help)";
        return false;
    }
    o.input = parser.positionalArguments()[0].toStdString();
    return true;
}

// The compressed sound of IN in whole blocks; the last block is filled up with silence.
bool LoadBlocks(const std::string& path, std::vector<std::uint8_t>& bytes, std::string* error) {
    if (EndsWith(path, ".wav") || EndsWith(path, ".s16le")) {
        std::vector<std::int16_t> samples;
        if (!ReadSamples(path, samples, error)) return false;
        CWAVE wave;
        bytes.resize(samples.size());
        wave.WaveCompress(samples, bytes);
    } else if (!ReadBytes(path, bytes, error)) {
        return false;
    }
    if (bytes.empty()) {
        *error = path + ": holds no sound";
        return false;
    }
    bytes.resize((bytes.size() + CWAVE::kBlockSamples - 1) / CWAVE::kBlockSamples * CWAVE::kBlockSamples, 0);
    return true;
}

// Plays blocks through StartPlay / Play / WaveMoving as a receiver does, on the window thread.
class Playback {
  public:
    Playback(const std::vector<std::uint8_t>& bytes, const PlaybackOptions& o) : bytes_(bytes) {
        const int blocks = static_cast<int>(bytes.size() / CWAVE::kBlockSamples);
        std::mt19937 random(o.seed);
        std::uniform_int_distribution<int> jitter(0, o.jitter_ms);
        std::int64_t last = 0;
        for (int k = 0; k < blocks; ++k) {
            last = std::max<std::int64_t>(last, 200 * k + jitter(random));  // TCP keeps the order
            arrivals_.push_back(last);
        }
    }

    int Run() {
        window_.SetWindowProc([this](platform::HWND, platform::UINT m, platform::WPARAM, platform::LPARAM) {
            if (m == platform::MM_WOM_OPEN) open_ = true;
            if (m == platform::MM_WOM_DONE) Moved();
            return platform::LRESULT{0};
        });
        hMainWnd = &window_;
        std::int32_t error = 0;
        wave_.WaveOutSet(error);
        if (error) return Fail("playback", "cannot open the sound output: " + platform::WaveLastOpenError());
        platform::RunUntil([&] { return open_; }, 2000);
        wave_.fLOGIN = platform::kTrue;
        clock_.start();
        platform::Timer tick([this] { Tick(); });
        tick.SetInterval(10);
        const int budget_ms = static_cast<int>(arrivals_.empty() ? 0 : arrivals_.back()) + 5000;
        const bool finished = platform::RunUntil([&] { return Finished(); }, budget_ms);
        tick.SetInterval(0);
        wave_.fLOGIN = platform::kFalse;  // let the buffers in flight finish
        platform::RunUntil([&] { return wave_.OutInFlight() == 0; }, 1000);
        wave_.WaveOutStop();
        hMainWnd = nullptr;
        Report(finished);
        return 0;
    }

  private:
    void Tick() {
        const std::int64_t now = clock_.elapsed();
        while (next_ < arrivals_.size() && arrivals_[next_] <= now) {
            std::span<const std::uint8_t, CWAVE::kBlockSamples> block(
                bytes_.data() + next_ * CWAVE::kBlockSamples, CWAVE::kBlockSamples);
            if (wave_.fPlay) {
                wave_.Play(block);
            } else {
                wave_.StartPlay(block);
            }
            ++next_;
        }
        if (now >= next_report_ms_) {
            std::printf("%5.1f s  queue %2d  blocks in %zu/%zu\n", now / 1000.0, wave_.QueueCount, next_,
                        arrivals_.size());
            std::fflush(stdout);
            next_report_ms_ += 1000;
        }
    }

    void Moved() {
        if (wave_.fLOGIN) {
            const int c = wave_.QueueCount;
            if (c == 0) {
                ++silent_;
            } else if (c == kTargetDepth + 1) {
                ++normal_;
            } else if (c > kTargetDepth + 1) {
                ++shortened_;
            } else {
                ++stretched_;
            }
        }
        wave_.WaveMoving(kTargetDepth);
    }

    bool Finished() const { return next_ == arrivals_.size() && !wave_.fPlay && wave_.QueueCount == 0; }

    void Report(bool finished) {
        std::printf("blocks: %zu sent, %d normal, %d stretched, %d shortened", arrivals_.size(), normal_,
                    stretched_, shortened_);
        std::printf("; %d silent buffers while the queue was empty", silent_);
        if (!wave_.fPlay && wave_.StartCount > 0) {
            std::printf("; %d block(s) too few to start playing again", wave_.StartCount);
        }
        std::printf("%s\n", finished ? "" : " (stopped at the time limit)");
    }

    const std::vector<std::uint8_t>& bytes_;
    std::vector<std::int64_t> arrivals_;  // milliseconds after the start
    std::size_t next_ = 0;
    std::int64_t next_report_ms_ = 1000;
    platform::Window window_;
    CWAVE wave_;
    QElapsedTimer clock_;
    bool open_ = false;
    int normal_ = 0, stretched_ = 0, shortened_ = 0, silent_ = 0;
};

int PlaybackCommand(const std::vector<std::string>& args) {
    PlaybackOptions o;
    std::string error;
    if (!ParsePlayback(args, o, &error)) return Fail("playback", error);
    if (!platform::SetWaveOutBackend(o.output, &error)) return Fail("playback", error);
    std::vector<std::uint8_t> bytes;
    if (!LoadBlocks(o.input, bytes, &error)) return Fail("playback", error);
    Playback playback(bytes, o);
    return playback.Run();
}

const Register kCompress({"sound-compress", "sound-compress IN OUT",
                          "compress IN (.wav of 8000 Hz 16-bit mono, or raw .s16le) to one byte per sample",
                          SoundCompress});
const Register kExpand({"sound-expand", "sound-expand IN OUT",
                        "expand compressed bytes IN to 16-bit samples in OUT (.wav or .s16le)", SoundExpand});
const Register kPlayback({"playback", "playback [--audio-out BACKEND] [--jitter-ms N] [--seed N] IN",
                          "play IN (.wav, .s16le or compressed bytes) in 0.2 s blocks through the receivers' "
                          "playback queue (BACKEND: auto, alsa[:NAME], null, null:OUT.wav, none)",
                          PlaybackCommand});
const Register kMakeSounds({"make-sounds", "make-sounds DIR",
                            "write the server's chime (stream.wav) and alarm (danger.wav) into DIR",
                            MakeSounds});

}  // namespace
}  // namespace streamtool
