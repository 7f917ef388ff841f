#include "platform/capture/testpattern.h"

#include <cstring>

#include "platform/capture/timestamp.h"

namespace platform {
namespace {

constexpr int kRowBytes = TestPattern::kWidth * 3;
constexpr int kBarsBottom = 144;  // scene lines 0..143: colour bars; then the ramp down to the stamp
constexpr int kStep = 4;          // pixels the square moves per frame

struct Bgr {
    std::uint8_t b, g, r;
};

// Bars at three quarters of full level: white, yellow, cyan, green, magenta, red, blue, black.
constexpr Bgr kBars[8] = {{191, 191, 191}, {0, 191, 191}, {191, 191, 0}, {0, 191, 0},
                          {191, 0, 191},   {0, 0, 191},   {191, 0, 0},   {0, 0, 0}};

// The buffer row of scene line y: the buffer holds the bottom line first.
std::uint8_t* SceneLine(std::uint8_t* frame, int y) {
    return frame + static_cast<std::size_t>(TestPattern::kHeight - 1 - y) * kRowBytes;
}

void Put(std::uint8_t* line, int x, Bgr c) {
    line[x * 3] = c.b;
    line[x * 3 + 1] = c.g;
    line[x * 3 + 2] = c.r;
}

}  // namespace

TestPattern::TestPattern() {
    std::uint8_t* frame = background_.data();
    for (int y = 0; y < kHeight; ++y) {
        std::uint8_t* line = SceneLine(frame, y);
        for (int x = 0; x < kWidth; ++x) {
            if (y < kBarsBottom) {
                Put(line, x, kBars[x / 40]);
            } else {
                const auto v = static_cast<std::uint8_t>(x * 255 / (kWidth - 1));
                Put(line, x, Bgr{v, v, v});
            }
        }
    }
}

int TestPattern::SquareLeft(std::uint64_t frame_number) {
    // Back and forth across the picture: a triangle wave over the square's free range.
    const int range = kWidth - kSquareSize;
    const auto pos = static_cast<int>((frame_number * kStep) % (2 * range));
    return pos < range ? pos : 2 * range - pos;
}

void TestPattern::Render(std::uint8_t* frame, std::uint64_t frame_number, std::int64_t capture_micros) const {
    std::memcpy(frame, background_.data(), kFrameBytes);
    const int left = SquareLeft(frame_number);
    for (int y = kSquareTop; y < kSquareTop + kSquareSize; ++y) {
        std::uint8_t* line = SceneLine(frame, y);
        const bool edge_line = y < kSquareTop + 2 || y >= kSquareTop + kSquareSize - 2;
        for (int x = left; x < left + kSquareSize; ++x) {
            const bool edge = edge_line || x < left + 2 || x >= left + kSquareSize - 2;
            Put(line, x, edge ? Bgr{0, 0, 0} : Bgr{255, 255, 255});
        }
    }
    WriteTimeStamp(frame, capture_micros);
}

}  // namespace platform
