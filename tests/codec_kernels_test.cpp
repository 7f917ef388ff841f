// The run-time selected pixel loops give exactly the values of their portable forms, so either path
// produces the same frames and pictures.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "codec/frame_kernels.h"

namespace {

using codec::kernels::kStripWidth;

TEST(CodecKernels, ColourSplitMatchesThePortableLoop) {
    std::mt19937 random(5);
    std::vector<uint8_t> row(3 * kStripWidth);
    for (int round = 0; round < 200; ++round) {
        for (size_t i = 0; i < row.size(); ++i) {
            // Mostly random bytes; every 8th round walks all byte values through each channel.
            row[i] =
                round % 8 == 0 ? static_cast<uint8_t>((i / 3 + round) % 256) : static_cast<uint8_t>(random());
        }
        int16_t y[kStripWidth], cb[kStripWidth], cr[kStripWidth];
        int16_t y2[kStripWidth], cb2[kStripWidth], cr2[kStripWidth];
        codec::kernels::SplitRow(row.data(), y, cb, cr);
        codec::kernels::SplitRowPortable(row.data(), y2, cb2, cr2);
        ASSERT_TRUE(std::equal(y, y + kStripWidth, y2)) << round;
        ASSERT_TRUE(std::equal(cb, cb + kStripWidth, cb2)) << round;
        ASSERT_TRUE(std::equal(cr, cr + kStripWidth, cr2)) << round;
    }
}

TEST(CodecKernels, MergeMatchesThePortableLoopOverTheWholeLuminanceRange) {
    std::mt19937 random(6);
    int16_t luma[kStripWidth], offsets[3 * codec::kernels::kAreasPerRow];
    std::vector<uint8_t> fast(3 * kStripWidth), portable(3 * kStripWidth);
    for (int round = 0; round < 200; ++round) {
        for (int16_t& y : luma) {
            y = static_cast<int16_t>(round % 2 ? static_cast<int>(random() % 65536) - 32768
                                               : static_cast<int>(random() % 700) - 200);
        }
        for (int16_t& o : offsets) o = static_cast<int16_t>(static_cast<int>(random() % 700) - 350);
        codec::kernels::MergeRow(luma, offsets, fast.data());
        codec::kernels::MergeRowPortable(luma, offsets, portable.data());
        ASSERT_EQ(fast, portable) << round;
    }
}

}  // namespace
