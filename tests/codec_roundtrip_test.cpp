// Encoding and decoding whole pictures: the fast encoder and decoder give exactly the bytes and pixels
// of the plain model over many pictures and thresholds, and pictures come back close to what went in.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <random>
#include <vector>

#include "allocation_counter.h"
#include "codec/CCODEC.h"
#include "codec_pictures.h"
#include "codec_reference.h"

// Every allocation of this test program is counted, so a test can show that frames allocate nothing.
namespace {
std::atomic<long> allocations{0};
}  // namespace

long AllocationCount() {
    return allocations;
}

void* operator new(size_t size) {
    ++allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}

namespace {

using Bytes = std::vector<uint8_t>;
using pictures::Picture;

// Random rectangles of random colours over a random gradient: varied blocks and areas.
Picture RandomScene(uint32_t seed) {
    std::mt19937 random(seed);
    auto value = [&](int n) { return static_cast<int>(random() % static_cast<uint32_t>(n)); };
    const int gx = value(5) - 2, gy = value(5) - 2, base = value(256);
    Picture p = pictures::Paint([&](int x, int y) {
        const auto v = static_cast<uint8_t>(std::clamp(base + gx * x / 4 + gy * y / 4, 0, 255));
        return pictures::Pixel{v, static_cast<uint8_t>(255 - v), static_cast<uint8_t>(v / 2)};
    });
    for (int n = value(40); n > 0; --n) {
        const int x0 = value(320), y0 = value(240), w = 1 + value(80), h = 1 + value(80);
        const pictures::Pixel c{static_cast<uint8_t>(value(256)), static_cast<uint8_t>(value(256)),
                                static_cast<uint8_t>(value(256))};
        for (int y = y0; y < std::min(240, y0 + h); ++y) {
            for (int x = x0; x < std::min(320, x0 + w); ++x) {
                uint8_t* at = &p[3 * (y * 320 + x)];
                at[0] = c.b, at[1] = c.g, at[2] = c.r;
            }
        }
    }
    return p;
}

std::vector<std::pair<std::string, Picture>> VariedPictures() {
    std::vector<std::pair<std::string, Picture>> all{
        {"black", pictures::Flat(0, 0, 0)},
        {"white", pictures::Flat(255, 255, 255)},
        {"blue", pictures::Flat(255, 0, 0)},
        {"red", pictures::Flat(0, 0, 255)},
        {"olive", pictures::Flat(10, 120, 130)},
        {"gradients", pictures::Gradients()},
        {"saturated", pictures::SaturatedAreas()},
        {"detail", pictures::FineDetail()},
        {"noise", pictures::Noise(1)},
        {"lowfrequency", pictures::LowFrequencyBlocks(12, 3)},
    };
    for (int offset = 1; offset <= 7; ++offset) {
        all.emplace_back("edges" + std::to_string(offset), pictures::HorizontalEdges(offset));
    }
    for (uint32_t seed = 1; seed <= 12; ++seed)
        all.emplace_back("scene" + std::to_string(seed), RandomScene(seed));
    for (const auto& path : pictures::SamplePaths())
        all.emplace_back(path.stem().string(), pictures::LoadPpm(path));
    return all;
}

double Psnr(const Picture& a, const Picture& b, bool luma_only) {
    double squared = 0;
    size_t count = 0;
    for (size_t i = 0; i < a.size(); i += 3) {
        if (luma_only) {
            auto luma = [](const uint8_t* p) { return 0.114 * p[0] + 0.587 * p[1] + 0.299 * p[2]; };
            const double d = luma(&a[i]) - luma(&b[i]);
            squared += d * d;
            ++count;
        } else {
            for (int c = 0; c < 3; ++c) {
                const double d = static_cast<double>(a[i + c]) - b[i + c];
                squared += d * d;
                ++count;
            }
        }
    }
    const double mse = squared / static_cast<double>(count);
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

TEST(CodecRoundTrip, FastEncoderAndDecoderMatchThePlainModel) {
    CCODEC codec, model;
    Bytes frame(15001), expected_frame, picture(230400), expected_picture(230400);
    for (const auto& [name, input] : VariedPictures()) {
        ASSERT_EQ(input.size(), 230400u) << name;
        for (int32_t threshold : {10, 0, 40}) {
            codec.敷居 = model.敷居 = threshold;
            const int status = codec.EncodeDCTPress(input, frame);
            ASSERT_EQ(status, reference::Encode(model, input, expected_frame)) << name << " " << threshold;
            if (status != 0) continue;
            ASSERT_EQ(Bytes(frame.begin(), frame.begin() + codec.SendDataSize), expected_frame)
                << name << " " << threshold;
            codec.敷居 = model.敷居 = threshold == 10 ? 15 : threshold;
            ASSERT_EQ(codec.DecodeDCTPress(expected_frame, picture), 0) << name;
            ASSERT_EQ(reference::Decode(model, expected_frame, expected_picture), 0) << name;
            ASSERT_EQ(picture, expected_picture) << name << " " << threshold;
        }
    }
}

TEST(CodecRoundTrip, PicturesComeBackCloseToTheOriginal) {
    CCODEC encoder, decoder;
    encoder.敷居 = 10;
    decoder.敷居 = 15;
    Bytes frame(15001), picture(230400);
    struct Case {
        Picture input;
        double min_luma_psnr;
    };
    const Case cases[] = {{pictures::Flat(10, 120, 130), 40},
                          {pictures::Gradients(), 30},
                          {pictures::HorizontalEdges(4), 11},
                          {pictures::LoadPpm(pictures::SamplePaths()[3]), 22},
                          {pictures::LoadPpm(pictures::SamplePaths()[4]), 22}};
    for (const Case& c : cases) {
        ASSERT_EQ(encoder.EncodeDCTPress(c.input, frame), 0);
        ASSERT_EQ(decoder.DecodeDCTPress(Bytes(frame.begin(), frame.begin() + encoder.SendDataSize), picture),
                  0);
        EXPECT_GT(Psnr(c.input, picture, true), c.min_luma_psnr);
    }
}

TEST(CodecRoundTrip, FlatColoursKeepTheirColour) {
    CCODEC encoder, decoder;
    encoder.敷居 = decoder.敷居 = 10;
    Bytes frame(15001), picture(230400);
    for (const auto& colour : {pictures::Pixel{0, 0, 0}, pictures::Pixel{255, 255, 255},
                               pictures::Pixel{40, 90, 200}, pictures::Pixel{200, 30, 60}}) {
        ASSERT_EQ(encoder.EncodeDCTPress(pictures::Flat(colour.b, colour.g, colour.r), frame), 0);
        ASSERT_EQ(decoder.DecodeDCTPress(frame, picture), 0);
        const int expected[3] = {colour.b, colour.g, colour.r};
        for (size_t i = 0; i < picture.size(); i += 997 * 3) {
            for (int c = 0; c < 3; ++c) ASSERT_NEAR(picture[i + c], expected[c], 3) << i;
        }
    }
}

TEST(CodecRoundTrip, FramesAllocateNothing) {
    CCODEC codec;
    const Picture picture = pictures::LoadPpm(pictures::SamplePaths()[0]);
    Bytes frame(15001), out(230400);
    const long before = allocations;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(codec.EncodeDCTPress(picture, frame), 0);
        ASSERT_EQ(codec.DecodeDCTPress(std::span<const uint8_t>(frame.data(), 5000), out), 0);
    }
    EXPECT_EQ(allocations - before, 0);
    const std::vector<int> probe(1000, 1);  // the counter does see allocations
    EXPECT_GT(allocations - before, 0);
    EXPECT_EQ(probe[999], 1);
}

TEST(CodecRoundTrip, EncoderNeedsAWholePictureAndRoomForTheFrame) {
    CCODEC codec;
    codec.SendDataSize = 77;
    Bytes frame(15001, 0xEE), small(1803, 0xEE);
    const Picture grey = pictures::Flat(128, 128, 128);
    EXPECT_EQ(codec.EncodeDCTPress(Bytes(230399, 128), frame), 9);
    EXPECT_EQ(codec.EncodeDCTPress(grey, small), 9);  // the frame is 1804 bytes
    EXPECT_EQ(small, Bytes(1803, 0xEE));
    EXPECT_EQ(codec.SendDataSize, 77);
    Bytes longer = grey;
    longer.resize(230402, 7);  // bytes after the picture are not read
    EXPECT_EQ(codec.EncodeDCTPress(longer, frame), 0);
    EXPECT_EQ(codec.SendDataSize, 1804);
}

TEST(CodecRoundTrip, ATooDetailedPictureFailsAndLeavesTheLastSizeAlone) {
    CCODEC codec;
    codec.敷居 = 0;
    Bytes frame(15001);
    ASSERT_EQ(codec.EncodeDCTPress(pictures::Flat(1, 2, 3), frame), 0);
    const int32_t size = codec.SendDataSize;
    Bytes model;
    const Picture busy = pictures::LowFrequencyBlocks(30, 5);
    EXPECT_EQ(reference::Encode(codec, busy, model), 9);
    EXPECT_GT(model.size(), 15001u);
    EXPECT_EQ(codec.EncodeDCTPress(busy, frame), 9);
    EXPECT_EQ(codec.SendDataSize, size);
    EXPECT_EQ(codec.敷居, 0);
}

}  // namespace
