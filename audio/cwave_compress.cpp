// The one-byte sample coding: 8 segments of 16 steps each, as on the wire in every sound block.
#include <algorithm>

#include "audio/CWAVE.h"

namespace {

constexpr int kClip = 32635;
constexpr int kBias = 132;

}  // namespace

CWAVE::CWAVE() {
    BuildTables();
    FillFormat();
}

CWAVE::~CWAVE() {
    if (m_hWaveIn != 0) WaveInStop();
    if (m_hWaveOut != 0) WaveOutStop();
}

void CWAVE::BuildTables() {
    for (int i = 0; i < 8; ++i) {
        ExpMask[i] = 1 << (i + 7);
        ExpCode[i] = 16 * i;
    }
    for (int i = 0; i < 16; ++i) BitMask[i] = 1 << i;
    for (int k = 1; k <= 16; ++k) Pow2[k] = 1 << (k - 1);
}

void CWAVE::FillFormat() {
    WaveFormat.wFormatTag = platform::WAVE_FORMAT_PCM;
    WaveFormat.nChannels = 1;
    WaveFormat.nSamplesPerSec = 8000;
    WaveFormat.wBitsPerSample = 16;
    WaveFormat.nBlockAlign = 2;
    WaveFormat.nAvgBytesPerSec = 16000;
    WaveFormat.cbSize = 0;
}

void CWAVE::WaveCompress(std::span<const std::int16_t> samples, std::span<std::uint8_t> bytes) const {
    const std::size_t count = std::min(samples.size(), bytes.size());
    for (std::size_t i = 0; i < count; ++i) {
        const int s = samples[i];
        const bool negative = s < 0;
        const int v = std::min(negative ? -s : s, kClip) + kBias;
        int e = 0;
        for (int k = 7; k >= 1; --k) {
            if (v & ExpMask[k]) {
                e = k;
                break;
            }
        }
        int code = ExpCode[e];
        if (v & BitMask[e + 6]) code += Pow2[4];
        if (v & BitMask[e + 5]) code += Pow2[3];
        if (v & BitMask[e + 4]) code += Pow2[2];
        if (v & BitMask[e + 3]) code += Pow2[1];
        if (negative) code += 0x80;
        bytes[i] = static_cast<std::uint8_t>(code);
    }
}

void CWAVE::WaveExpand(std::span<const std::uint8_t> bytes, std::span<std::int16_t> samples) const {
    const std::size_t count = std::min(samples.size(), bytes.size());
    for (std::size_t i = 0; i < count; ++i) {
        const int b = bytes[i];
        const int e = (b & 0x70) >> 4;
        const int m = b & 0x0F;
        const int x = m * Pow2[e + 4] + Pow2[e + 8] - kBias;  // m x 2^(e+3) + 2^(e+7) - 132
        samples[i] = static_cast<std::int16_t>((b & 0x80) ? -x : x);
    }
}
