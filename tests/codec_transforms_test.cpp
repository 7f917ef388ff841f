// The four public 8-point transforms: documented values, thresholds, index and range failures, and the
// wide arguments that strong horizontal edges produce.
#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "codec/CCODEC.h"

namespace {

constexpr int kStride = 320;

// A plane of 8 rows of 320, with the given values down column `column` (rows 0..7).
std::vector<int32_t> ColumnPlane(const std::vector<int32_t>& values, int column = 5) {
    std::vector<int32_t> plane(8 * kStride + 1);
    for (size_t k = 0; k < values.size(); ++k) plane[k * kStride + column] = values[k];
    return plane;
}

std::vector<int32_t> Column(const std::vector<int32_t>& plane, int column, int rows) {
    std::vector<int32_t> values;
    for (int k = 0; k < rows; ++k) values.push_back(plane[k * kStride + column]);
    return values;
}

TEST(CodecTransforms, ForwardRowOfFlatWhite) {
    CCODEC codec;
    std::vector<int32_t> in(16, 255), out(16, -7);
    ASSERT_EQ(codec.FDCT8(in, out, 4), 0);
    EXPECT_EQ(std::vector<int32_t>(out.begin() + 4, out.begin() + 8), (std::vector<int32_t>{1442, 0, 0, 0}));
    EXPECT_EQ(out[3], -7);  // outside the four outputs nothing changes
    EXPECT_EQ(out[8], -7);
}

TEST(CodecTransforms, ForwardColumnAppliesTheThresholdToItsFourRows) {
    CCODEC codec;
    codec.敷居 = 10;
    std::vector<int32_t> out(8 * kStride + 1, 99);
    ASSERT_EQ(codec.tFDCT8(ColumnPlane({-37}), out, 5), 0);  // row 1 computes -9, the others -6, -8, -7
    EXPECT_EQ(Column(out, 5, 5), (std::vector<int32_t>{0, 0, 0, 0, 99}));
    ASSERT_EQ(codec.tFDCT8(ColumnPlane({-41}), out, 5), 0);  // row 1 computes -10: kept
    EXPECT_EQ(out[kStride + 5], -10);
    codec.敷居 = 0;
    ASSERT_EQ(codec.tFDCT8(ColumnPlane({-37}), out, 5), 0);
    EXPECT_EQ(Column(out, 5, 4), (std::vector<int32_t>{-6, -9, -8, -7}));
}

TEST(CodecTransforms, InverseOfADcOnlyInput) {
    CCODEC codec;
    std::vector<int32_t> row(8), out(8);
    row[0] = 800;
    ASSERT_EQ(codec.IFDCT8(row, out, 0), 0);
    EXPECT_EQ(out, std::vector<int32_t>(8, 141));
    std::vector<int32_t> columns(8 * kStride + 1);
    ASSERT_EQ(codec.tIFDCT8(ColumnPlane({800}), columns, 5), 0);
    EXPECT_EQ(Column(columns, 5, 8), std::vector<int32_t>(8, 565));
}

TEST(CodecTransforms, InverseColumnRejectsATableArgumentThatTheRowAccepts) {
    CCODEC codec;
    std::vector<int32_t> columns(8 * kStride + 1, 7);
    EXPECT_EQ(codec.tIFDCT8(ColumnPlane({1500, 0, 0, 0, 1501}), columns, 5), 9);  // a0 + a4 = 3001
    EXPECT_EQ(Column(columns, 5, 8), std::vector<int32_t>(8, 7));                 // nothing written
    EXPECT_EQ(codec.tIFDCT8(ColumnPlane({1500, 0, 0, 0, 1500}), columns, 5), 0);  // 3000 is inside
    std::vector<int32_t> row{1500, 0, 0, 0, 1501, 0, 0, 0}, out(8);
    EXPECT_EQ(codec.IFDCT8(row, out, 0), 0);
    EXPECT_EQ(out[0], 530);  // (3001 * 181) \ 256 \ 4
}

TEST(CodecTransforms, IndexOutsideEitherArrayFailsWithoutWriting) {
    CCODEC codec;
    std::vector<int32_t> in(8, 1), out(8, 3), short_out(7, 3);
    EXPECT_EQ(codec.FDCT8(in, out, -1), 9);
    EXPECT_EQ(codec.FDCT8(in, out, 1), 9);
    EXPECT_EQ(codec.FDCT8(in, short_out, 0), 9);
    EXPECT_EQ(codec.IFDCT8(in, short_out, 0), 9);
    EXPECT_EQ(short_out, std::vector<int32_t>(7, 3));
    std::vector<int32_t> plane(7 * kStride + 5), other(plane.size());
    EXPECT_EQ(codec.tFDCT8(plane, other, 4), 0);
    EXPECT_EQ(codec.tFDCT8(plane, other, 5), 9);
    EXPECT_EQ(codec.tIFDCT8(plane, other, 5), 9);
}

TEST(CodecTransforms, OverflowStopsWithStatusSix) {
    CCODEC codec;
    std::vector<int32_t> in{INT_MAX, 0, 0, 0, 0, 0, 0, 1}, out(8, 3);
    EXPECT_EQ(codec.FDCT8(in, out, 0), 6);
    EXPECT_EQ(out, std::vector<int32_t>(8, 3));
    std::vector<int32_t> big{0, 20'000'000, 0, 0, 0, 0, 0, 0};  // a1 * 251 leaves 32 bits
    EXPECT_EQ(codec.IFDCT8(big, out, 0), 6);
}

// A column whose upper rows are black and lower rows white (row outputs 0 and 1442) reaches product
// arguments of -3481 when split after row 3, 4 or 5; the transform computes them by the tables' rule.
TEST(CodecTransforms, ForwardColumnTakesTheArgumentsOfFullContrastEdges) {
    CCODEC codec;
    for (int split = 1; split <= 7; ++split) {
        std::vector<int32_t> values(8, 1442);
        std::fill(values.begin(), values.begin() + split, 0);
        std::vector<int32_t> out(8 * kStride + 1);
        EXPECT_EQ(codec.tFDCT8(ColumnPlane(values), out, 5), 0) << split;
        if (split == 3) {
            EXPECT_EQ(Column(out, 5, 4), (std::vector<int32_t>{1274, -853, -333, 124}));
        }
    }
    std::vector<int32_t> row{0, 0, 0, 3000, 3000, 3000, 3000, 3000}, out(8);
    EXPECT_EQ(codec.FDCT8(row, out, 0), 0);
}

}  // namespace
