// The Haar synthesis and analysis and the floating-point colour conversion.
#include <gtest/gtest.h>

#include <vector>

#include "codec/CCODEC.h"

namespace {

constexpr size_t kPlane = 76801;

TEST(CodecWavelet, SynthesisSpreadsAGridValueOverItsArea) {
    CCODEC codec;
    std::vector<int32_t> band(kPlane);
    band[0] = 2048;
    band[1] = 4096;
    band[2] = -40;
    std::vector<uint8_t> plane(kPlane, 0);
    plane[32] = 9;  // under the negative value: left alone
    int32_t w = 20, h = 15;
    ASSERT_EQ(codec.ReWLY(320, 240, band, w, h, 4, plane), 0);
    EXPECT_EQ(w, 320);
    EXPECT_EQ(h, 240);
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 50; ++x) {
            const int expected = y >= 16 ? 0 : x < 16 ? 128 : x < 32 ? 255 : x == 32 && y == 0 ? 9 : 0;
            ASSERT_EQ(plane[y * 320 + x], expected) << x << "," << y;
        }
    }
}

TEST(CodecWavelet, SynthesisCombinesTheDetailBands) {
    CCODEC codec;
    std::vector<int32_t> band(kPlane);
    band[0] = 10;    // approximation
    band[1] = 2;     // right detail
    band[320] = 4;   // lower detail
    band[321] = -2;  // diagonal detail
    std::vector<uint8_t> plane(kPlane);
    int32_t w = 1, h = 1;
    ASSERT_EQ(codec.ReWLY(320, 240, band, w, h, 1, plane), 0);
    EXPECT_EQ(plane[0], 7);    // (10 + 2 + 4 - 2) \ 2
    EXPECT_EQ(plane[1], 7);    // (10 - 2 + 4 + 2) \ 2
    EXPECT_EQ(plane[320], 5);  // (10 + 2 - 4 + 2) \ 2
    EXPECT_EQ(plane[321], 1);  // (10 - 2 - 4 - 2) \ 2
    EXPECT_EQ(w, 2);
    EXPECT_EQ(band[0], 7);  // the level's result was copied back
}

TEST(CodecWavelet, SynthesisOutsideItsArraysFails) {
    CCODEC codec;
    std::vector<int32_t> small(1000);
    std::vector<uint8_t> plane(kPlane);
    int32_t w = 20, h = 15;
    EXPECT_EQ(codec.ReWLY(320, 240, small, w, h, 4, plane), 9);
    std::vector<int32_t> band(kPlane);
    std::vector<uint8_t> short_plane(1000);
    w = 20, h = 15;
    EXPECT_EQ(codec.ReWLY(320, 240, band, w, h, 4, short_plane), 9);
}

TEST(CodecWavelet, AnalysisOfAFlatPlane) {
    CCODEC codec;
    std::vector<uint8_t> flat(76800, 100);
    std::vector<int32_t> out(kPlane, -1);
    int32_t w = 0, h = 0;
    ASSERT_EQ(codec.WaveLet(320, 240, flat, w, h, 1, out, 0, 1), 0);
    EXPECT_EQ(w, 160);
    EXPECT_EQ(h, 120);
    EXPECT_EQ(out[0], 200);  // approximation: (4 x 100) \ 2
    EXPECT_EQ(out[159 + 320 * 119], 200);
    EXPECT_EQ(out[160], 0);        // right detail
    EXPECT_EQ(out[120 * 320], 0);  // lower detail
    EXPECT_EQ(out[320 * 221], 0);  // rows below 220 are dropped
}

TEST(CodecWavelet, AnalysisQuantisesDetail) {
    CCODEC codec;
    std::vector<uint8_t> dat(76800, 0);
    dat[0] = 9;  // a = 9, b = c = d = 0: every band gets 9 \ 2 or round(4.5) = 4
    std::vector<int32_t> out(kPlane);
    int32_t w = 0, h = 0;
    ASSERT_EQ(codec.WaveLet(320, 240, dat, w, h, 1, out, 0, 3), 0);
    EXPECT_EQ(out[0], 1);    // 4 / 3
    EXPECT_EQ(out[160], 1);  // round(4.5) = 4, then 4 / 3
    ASSERT_EQ(codec.WaveLet(320, 240, dat, w, h, 1, out, 5, 1), 0);
    EXPECT_EQ(out[0], 0);  // below Press1
    EXPECT_EQ(codec.WaveLet(320, 240, dat, w, h, 1, out, 0, 0), 11);
    std::vector<uint8_t> too_long(kPlane + 1);
    EXPECT_EQ(codec.WaveLet(320, 240, too_long, w, h, 1, out, 0, 1), 9);
}

TEST(CodecWavelet, ToRgb2ConvertsAndClamps) {
    CCODEC codec;
    const std::vector<uint8_t> in{100, 128, 128, 200, 255, 0, 10, 0, 255};
    std::vector<uint8_t> out(in.size());
    ASSERT_EQ(codec.ToRGB2(in, out), 0);
    EXPECT_EQ(out, (std::vector<uint8_t>{100, 100, 100, 255, 248, 21, 0, 0, 188}));
    std::vector<uint8_t> uneven(5), shorter(2);
    EXPECT_EQ(codec.ToRGB2(uneven, uneven), 9);
    EXPECT_EQ(codec.ToRGB2(in, shorter), 9);
}

}  // namespace
