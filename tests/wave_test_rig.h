// Shared by the sound tests: a main window that records what the devices post, on a manual device clock,
// with the backends chosen for the test and put back afterwards.
#pragma once

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/wave/wave.h"
#include "platform/wave/wave_file.h"
#include "platform/window/window.h"

namespace wave_test {

struct Posted {
    platform::UINT msg;
    platform::WPARAM wParam;
    platform::LPARAM lParam;
};

class WaveRig {
  public:
    explicit WaveRig(const std::string& in_backend = "none", const std::string& out_backend = "null")
        : clock_(std::make_shared<platform::ManualWaveClock>()),
          saved_in_(platform::WaveInBackend()),
          saved_out_(platform::WaveOutBackend()),
          saved_window_(hMainWnd) {
        platform::SetWaveClock(clock_);
        EXPECT_TRUE(platform::SetWaveInBackend(in_backend));
        EXPECT_TRUE(platform::SetWaveOutBackend(out_backend));
        window_.SetWindowProc(
            [this](platform::HWND, platform::UINT m, platform::WPARAM w, platform::LPARAM l) {
                posted.push_back({m, w, l});
                if (on_message) on_message(m, w, l);
                return platform::LRESULT{0};
            });
        hMainWnd = &window_;
    }
    ~WaveRig() {
        hMainWnd = saved_window_;
        platform::SetWaveClock(nullptr);
        platform::SetWaveInBackend(saved_in_);
        platform::SetWaveOutBackend(saved_out_);
    }

    platform::ManualWaveClock& clock() { return *clock_; }
    platform::HWND window() { return &window_; }

    // Lets the devices catch up with the clock and runs every message they posted, and those that the
    // handlers' own calls lead to, until nothing more happens.
    void Settle() {
        for (int round = 0; round < 100; ++round) {
            ASSERT_TRUE(clock_->WaitSettled(5000)) << "a device thread did not come to rest";
            const auto before = window_.DeliveredCount();
            platform::DoEvents();
            if (window_.DeliveredCount() == before) return;
        }
        FAIL() << "messages kept coming";
    }

    // Moves the clock on in steps of at most step_us, settling after each.
    void Step(std::int64_t micros, std::int64_t step_us = 10000) {
        for (std::int64_t done = 0; done < micros; done += step_us) {
            clock_->Advance(std::min(step_us, micros - done));
            Settle();
        }
    }

    int Count(platform::UINT msg) const {
        int n = 0;
        for (const Posted& p : posted) n += p.msg == msg;
        return n;
    }

    std::vector<Posted> posted;
    std::function<void(platform::UINT, platform::WPARAM, platform::LPARAM)> on_message;

  private:
    std::shared_ptr<platform::ManualWaveClock> clock_;
    std::string saved_in_, saved_out_;
    platform::HWND saved_window_;
    platform::Window window_;
};

inline platform::WAVEFORMATEX Format8k() {
    platform::WAVEFORMATEX f;
    f.wFormatTag = platform::WAVE_FORMAT_PCM;
    f.nChannels = 1;
    f.nSamplesPerSec = 8000;
    f.wBitsPerSample = 16;
    f.nBlockAlign = 2;
    f.nAvgBytesPerSec = 16000;
    return f;
}

inline std::vector<std::int16_t> ReadSamples(const std::string& path) {
    platform::WavSound sound;
    std::string error;
    EXPECT_TRUE(platform::ReadWavFile(path, sound, &error)) << error;
    return sound.samples;
}

// Sign changes from negative to non-negative: a tone of f Hz gives f per second.
inline int RisingCrossings(const std::vector<std::int16_t>& s, std::size_t from, std::size_t to) {
    int n = 0;
    for (std::size_t i = from + 1; i < to && i < s.size(); ++i) n += s[i - 1] < 0 && s[i] >= 0;
    return n;
}

}  // namespace wave_test
