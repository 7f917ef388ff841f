// The server's own sounds, made here so that the suite ships no recorded material.
#include "server/server_sounds.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "platform/wave/wave_file.h"

namespace tessaly {
namespace {

constexpr std::uint32_t kRate = 8000;

// Adds a decaying note (a fundamental with a soft octave) starting at sample `start`.
void AddBell(std::vector<std::int16_t>& out, std::size_t start, double hz, double seconds, double peak) {
    const std::size_t n = static_cast<std::size_t>(seconds * kRate);
    for (std::size_t i = 0; i < n && start + i < out.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double attack = std::min(1.0, t / 0.005);  // 5 ms rise, so the note starts without a click
        const double envelope = attack * std::exp(-t * 5.0);
        const double w = 2 * std::numbers::pi * hz * t;
        const double v = peak * envelope * (0.8 * std::sin(w) + 0.2 * std::sin(2 * w));
        out[start + i] = static_cast<std::int16_t>(std::clamp(out[start + i] + v, -32767.0, 32767.0));
    }
}

// Adds a steady tone with 10 ms fades at both ends, odd harmonics making it harsh like a buzzer.
void AddBeep(std::vector<std::int16_t>& out, std::size_t start, double hz, double seconds, double peak) {
    const std::size_t n = static_cast<std::size_t>(seconds * kRate);
    const double fade = 0.010 * kRate;
    for (std::size_t i = 0; i < n && start + i < out.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double edge = std::min({1.0, i / fade, (n - i) / fade});
        const double w = 2 * std::numbers::pi * hz * t;
        const double v = peak * edge * (0.75 * std::sin(w) + 0.25 * std::sin(3 * w));
        out[start + i] = static_cast<std::int16_t>(std::clamp(v, -32767.0, 32767.0));
    }
}

}  // namespace

std::vector<std::int16_t> MakeChimeSamples() {
    std::vector<std::int16_t> out(static_cast<std::size_t>(0.9 * kRate), 0);
    AddBell(out, 0, 880.0, 0.9, 12000);                                         // A5
    AddBell(out, static_cast<std::size_t>(0.18 * kRate), 1318.5, 0.72, 10000);  // E6
    return out;
}

std::vector<std::int16_t> MakeAlarmSamples() {
    constexpr double kBeep = 0.25;
    std::vector<std::int16_t> out(static_cast<std::size_t>(6 * kBeep * kRate), 0);
    for (int i = 0; i < 6; ++i) {
        AddBeep(out, static_cast<std::size_t>(i * kBeep * kRate), i % 2 == 0 ? 960.0 : 770.0, kBeep, 14000);
    }
    return out;
}

bool WriteServerSounds(const std::string& folder, std::string* error) {
    std::string base = folder.empty() ? std::string(".") : folder;
    if (base.back() != '/') base += '/';
    const std::vector<std::int16_t> chime = MakeChimeSamples();
    const std::vector<std::int16_t> alarm = MakeAlarmSamples();
    return platform::WriteWavFile(base + "stream.wav", kRate, chime, error) &&
           platform::WriteWavFile(base + "danger.wav", kRate, alarm, error);
}

}  // namespace tessaly
