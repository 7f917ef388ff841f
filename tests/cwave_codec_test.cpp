// The one-byte sample coding: the bytes of every sound block on the wire depend on it exactly.
#include <gtest/gtest.h>

#include <bit>
#include <vector>

#include "audio/CWAVE.h"

namespace {

// The same segment coding written another way: the exponent from the position of the highest set bit.
std::uint8_t ReferenceCompress(int s) {
    const int sign = s < 0 ? 0x80 : 0;
    int a = s < 0 ? -s : s;
    if (a > 32635) a = 32635;
    const unsigned v = static_cast<unsigned>(a + 132);
    const int top = std::bit_width(v) - 1;  // 7 to 14
    const int e = top > 7 ? top - 7 : 0;
    const int m = static_cast<int>(v >> (e + 3)) & 0x0F;
    return static_cast<std::uint8_t>(sign | (e << 4) | m);
}

int ReferenceExpand(std::uint8_t b) {
    const int e = (b >> 4) & 7;
    const int x = ((b & 0x0F) << (e + 3)) + (1 << (e + 7)) - 132;
    return (b & 0x80) ? -x : x;
}

}  // namespace

TEST(WaveCompress, EverySixteenBitSampleGivesTheSegmentCode) {
    CWAVE wave;
    std::vector<std::int16_t> all(65536);
    for (int i = 0; i < 65536; ++i) all[i] = static_cast<std::int16_t>(i - 32768);
    std::vector<std::uint8_t> bytes(all.size());
    wave.WaveCompress(all, bytes);
    for (int i = 0; i < 65536; ++i) ASSERT_EQ(bytes[i], ReferenceCompress(all[i])) << "sample " << all[i];
}

TEST(WaveCompress, KnownSamplesAndTheEdges) {
    CWAVE wave;
    const std::vector<std::int16_t> in = {0, 4, 100, -100, 1000, 8000, 32767, 32635, -32768, -3, -1};
    const std::vector<std::uint8_t> want = {0x00, 0x01, 0x0D, 0x8D, 0x31, 0x5F, 0x7F, 0x7F, 0xFF, 0x80, 0x80};
    std::vector<std::uint8_t> out(in.size());
    wave.WaveCompress(in, out);
    EXPECT_EQ(out, want);
}

TEST(WaveExpand, EveryByteGivesTheLowerEdgeOfItsStep) {
    CWAVE wave;
    std::vector<std::uint8_t> all(256);
    for (int b = 0; b < 256; ++b) all[b] = static_cast<std::uint8_t>(b);
    std::vector<std::int16_t> samples(256);
    wave.WaveExpand(all, samples);
    for (int b = 0; b < 256; ++b) ASSERT_EQ(samples[b], ReferenceExpand(static_cast<std::uint8_t>(b))) << b;
    EXPECT_EQ(samples[0x00], -4);
    EXPECT_EQ(samples[0x80], 4);
    EXPECT_EQ(samples[0x0D], 100);
    EXPECT_EQ(samples[0x7F], 31612);
    EXPECT_EQ(samples[0xFF], -31612);

    // Expanding and compressing again gives the byte back, except for the two codes of silence, whose
    // expansion lies on the other side of zero.
    std::vector<std::uint8_t> again(256);
    wave.WaveCompress(samples, again);
    for (int b = 0; b < 256; ++b) {
        if (b == 0x00 || b == 0x80) continue;
        ASSERT_EQ(again[b], b);
    }
    EXPECT_EQ(again[0x00], 0x81);
    EXPECT_EQ(again[0x80], 0x01);
}

TEST(WaveCompress, ConvertsOnlyWhereBothSidesHaveRoom) {
    CWAVE wave;
    std::vector<std::int16_t> samples = {1000, 1000, 1000, 1000};
    std::vector<std::uint8_t> bytes(6, 0xAA);
    wave.WaveCompress(std::span(samples).first(4), std::span(bytes).first(2));
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{0x31, 0x31, 0xAA, 0xAA, 0xAA, 0xAA}));
    std::vector<std::int16_t> back(1, 7);
    wave.WaveExpand(bytes, back);
    EXPECT_EQ(back[0], 956);  // 0x31: e = 3, m = 1 -> 64 + 1024 - 132
}
