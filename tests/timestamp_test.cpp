#include "platform/capture/timestamp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "platform/capture/testpattern.h"

using namespace platform;

namespace {

constexpr int kW = 320;
constexpr int kH = 240;
using Picture = std::vector<std::uint8_t>;

Picture Stamped(std::int64_t t, std::uint8_t fill = 128) {
    Picture pic(kW * kH * 3, fill);
    WriteTimeStamp(pic.data(), t);
    return pic;
}

std::uint8_t Clamp(int v) {
    return static_cast<std::uint8_t>(std::clamp(v, 0, 255));
}

// Roughly what a block codec that keeps only low frequencies does: each 8 x 8 block of luma keeps its
// mean, each 16 x 16 area of the colour difference planes its mean.
void KeepBlockMeans(Picture& pic) {
    std::vector<double> y(kW * kH), cb(kW * kH), cr(kW * kH);
    for (int i = 0; i < kW * kH; ++i) {
        const double b = pic[i * 3], g = pic[i * 3 + 1], r = pic[i * 3 + 2];
        y[i] = 0.299 * r + 0.587 * g + 0.114 * b;
        cb[i] = b - y[i];
        cr[i] = r - y[i];
    }
    auto average = [](std::vector<double>& plane, int size) {
        for (int by = 0; by < kH; by += size) {
            for (int bx = 0; bx < kW; bx += size) {
                double sum = 0;
                for (int yy = by; yy < by + size; ++yy)
                    for (int xx = bx; xx < bx + size; ++xx) sum += plane[yy * kW + xx];
                for (int yy = by; yy < by + size; ++yy)
                    for (int xx = bx; xx < bx + size; ++xx) plane[yy * kW + xx] = sum / (size * size);
            }
        }
    };
    average(y, 8);
    average(cb, 16);
    average(cr, 16);
    for (int i = 0; i < kW * kH; ++i) {
        const double b = cb[i] + y[i], r = cr[i] + y[i];
        const double g = (y[i] - 0.299 * r - 0.114 * b) / 0.587;
        pic[i * 3] = Clamp(static_cast<int>(b + 0.5));
        pic[i * 3 + 1] = Clamp(static_cast<int>(g + 0.5));
        pic[i * 3 + 2] = Clamp(static_cast<int>(r + 0.5));
    }
}

void AddNoise(Picture& pic, int amplitude, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d(-amplitude, amplitude);
    for (auto& v : pic) v = Clamp(v + d(rng));
}

void BoxBlur(Picture& pic) {
    const Picture src = pic;
    for (int y = 1; y < kH - 1; ++y)
        for (int x = 1; x < kW - 1; ++x)
            for (int c = 0; c < 3; ++c) {
                int sum = 0;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) sum += src[((y + dy) * kW + x + dx) * 3 + c];
                pic[(y * kW + x) * 3 + c] = static_cast<std::uint8_t>(sum / 9);
            }
}

// Squeezes the levels towards grey, as a coarse quantiser or a dim camera would.
void Flatten(Picture& pic, int low, int high) {
    for (auto& v : pic) v = static_cast<std::uint8_t>(low + v * (high - low) / 255);
}

// A ringing-like pattern inside each block that leaves its mean alone.
void RingInsideBlocks(Picture& pic, int amplitude) {
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const int ring = ((x % 8) < 4 ? amplitude : -amplitude) * ((y % 8) < 4 ? 1 : -1);
            for (int c = 0; c < 3; ++c) pic[(y * kW + x) * 3 + c] = Clamp(pic[(y * kW + x) * 3 + c] + ring);
        }
}

}  // namespace

TEST(TimeStamp, RoundTripsAndKeeps48Bits) {
    for (std::int64_t t :
         {std::int64_t{0}, std::int64_t{1}, std::int64_t{123456789012}, kTimeStampMask, MonotonicMicros()}) {
        EXPECT_EQ(ReadTimeStamp(Stamped(t).data()), t);
    }
    EXPECT_EQ(ReadTimeStamp(Stamped(kTimeStampMask + 5).data()), 4);
}

TEST(TimeStamp, TouchesOnlyTheBottomSixteenLines) {
    Picture pic(kW * kH * 3, 77);
    WriteTimeStamp(pic.data(), 42);
    const std::size_t strip = kStampLines * kW * 3;  // bottom-up: the first rows of the buffer
    EXPECT_TRUE(std::all_of(pic.begin() + strip, pic.end(), [](std::uint8_t v) { return v == 77; }));
}

TEST(TimeStamp, PicturesWithoutAStampReadAsNone) {
    Picture grey(kW * kH * 3, 128);
    EXPECT_FALSE(ReadTimeStamp(grey.data()));
    Picture noise(kW * kH * 3, 0);
    AddNoise(noise, 255, 7);
    EXPECT_FALSE(ReadTimeStamp(noise.data()));
    // Random strips of black and white blocks: the sync bytes and the CRC reject them.
    std::mt19937 rng(3);
    for (int trial = 0; trial < 200; ++trial) {
        Picture blocks(kW * kH * 3, 0);
        for (int by = 0; by < 2; ++by)
            for (int bx = 0; bx < 40; ++bx) {
                const std::uint8_t v = (rng() & 1) ? 235 : 16;
                for (int y = by * 8; y < by * 8 + 8; ++y) std::memset(&blocks[(y * kW + bx * 8) * 3], v, 24);
            }
        EXPECT_FALSE(ReadTimeStamp(blocks.data())) << trial;
    }
}

TEST(TimeStamp, OneMisreadBlockIsDetectedNotMisreported) {
    const Picture good = Stamped(0x123456789AB);
    // Flip each block in turn (upper line: buffer rows 8..15; lower: 0..7).
    for (int k = 0; k < 80; ++k) {
        Picture pic = good;
        const int row0 = k < 40 ? 8 : 0;
        const int col0 = (k % 40) * 8;
        for (int y = row0; y < row0 + 8; ++y)
            for (int x = col0; x < col0 + 8; ++x)
                for (int c = 0; c < 3; ++c) pic[(y * kW + x) * 3 + c] = 251 - pic[(y * kW + x) * 3 + c];
        EXPECT_FALSE(ReadTimeStamp(pic.data())) << "block " << k;
    }
}

TEST(TimeStamp, SurvivesBlockMeansNoiseBlurRingingAndFlattening) {
    const std::int64_t t = 987654321098;
    const TestPattern pattern;
    for (unsigned seed = 1; seed <= 10; ++seed) {
        Picture pic(kW * kH * 3);
        pattern.Render(pic.data(), seed * 13, t + seed);
        KeepBlockMeans(pic);
        RingInsideBlocks(pic, 30);
        AddNoise(pic, 40, seed);
        BoxBlur(pic);
        Flatten(pic, 60, 190);
        EXPECT_EQ(ReadTimeStamp(pic.data()), t + seed) << seed;
    }
}

TEST(TimeStamp, AgeCountsAcrossTheWrapOfThe48Bits) {
    EXPECT_EQ(StampAgeMicros(100, 350), 250);
    EXPECT_EQ(StampAgeMicros(kTimeStampMask - 9, kTimeStampMask + 11), 20);
}
