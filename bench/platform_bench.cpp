// What the platform layer costs per frame: painting a picture into a picture box at both receiver sizes,
// drawing the test picture, stamping it and reading the stamp back, and turning raw frames bottom-up. The
// plain copy of one frame is the yardstick: painting cannot be cheaper than touching every pixel once.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "platform/capture/capture.h"
#include "platform/capture/testpattern.h"
#include "platform/capture/timestamp.h"
#include "platform/ui/controls.h"

using namespace platform;

namespace {

std::vector<std::uint8_t> Picture() {
    std::vector<std::uint8_t> pic(TestPattern::kFrameBytes + 1);
    TestPattern().Render(pic.data(), 7, MonotonicMicros());
    return pic;
}

BitmapInfoHeader Header() {
    BitmapInfoHeader h;
    h.biWidth = 320;
    h.biHeight = 240;
    return h;
}

void BM_CopyOneFrame(benchmark::State& state) {
    const auto pic = Picture();
    std::vector<std::uint8_t> out(pic.size());
    for (auto _ : state) {
        std::memcpy(out.data(), pic.data(), TestPattern::kFrameBytes);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_CopyOneFrame);

void BM_PaintMirrored320x240(benchmark::State& state) {
    Form form("F");
    PictureBox& box = form.AddPictureBox("Picture2", {0, 0, 365, 277});
    const auto pic = Picture();
    for (auto _ : state) {
        box.StretchDIBits(340, 20, -320, 240, 0, 0, 320, 240, pic.data(), Header());
        benchmark::DoNotOptimize(box.GetSurface().Pixels());
    }
}
BENCHMARK(BM_PaintMirrored320x240);

void BM_PaintMirroredDoubled640x480(benchmark::State& state) {
    Form form("F");
    PictureBox& box = form.AddPictureBox("Picture2", {0, 0, 661, 501});
    const auto pic = Picture();
    for (auto _ : state) {
        box.StretchDIBits(650, 10, -640, 480, 0, 0, 320, 240, pic.data(), Header());
        benchmark::DoNotOptimize(box.GetSurface().Pixels());
    }
}
BENCHMARK(BM_PaintMirroredDoubled640x480);

void BM_RenderTestPicture(benchmark::State& state) {
    const TestPattern pattern;
    std::vector<std::uint8_t> frame(TestPattern::kFrameBytes);
    std::uint64_t n = 0;
    for (auto _ : state) {
        pattern.Render(frame.data(), n++, 123456789);
        benchmark::DoNotOptimize(frame.data());
    }
}
BENCHMARK(BM_RenderTestPicture);

void BM_ReadTimeStamp(benchmark::State& state) {
    const auto pic = Picture();
    for (auto _ : state) benchmark::DoNotOptimize(ReadTimeStamp(pic.data()));
}
BENCHMARK(BM_ReadTimeStamp);

void BM_FlipRawFrame(benchmark::State& state) {
    const auto pic = Picture();
    std::vector<std::uint8_t> out(pic.size());
    for (auto _ : state) {
        FlipRows(pic.data(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_FlipRawFrame);

}  // namespace

BENCHMARK_MAIN();
