// The codec's constants and tables: exact values, ranges, and the integer forms the fast paths use.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "codec/CCODEC.h"
#include "codec/frame_kernels.h"

namespace {

TEST(CodecTables, TrigonometricConstantsHaveTheirScaledValues) {
    CCODEC codec;
    const codec::TrigConstants& c = codec.Tables().trig;
    EXPECT_EQ(c.CosPi4, 181);
    EXPECT_EQ(c.SinPi8, 98);
    EXPECT_EQ(c.CosPi8, 237);
    EXPECT_EQ(c.Sin3Pi8, 237);
    EXPECT_EQ(c.Cos3Pi8, 98);
    EXPECT_EQ(c.SinPi16, 50);
    EXPECT_EQ(c.CosPi16, 251);
    EXPECT_EQ(c.Sin5Pi16, 213);
    EXPECT_EQ(c.Cos5Pi16, 142);
    EXPECT_EQ(c.Sin3Pi16, 142);
    EXPECT_EQ(c.Cos3Pi16, 213);
    EXPECT_EQ(c.Sin7Pi16, 251);
    EXPECT_EQ(c.Cos7Pi16, 50);
}

TEST(CodecTables, ProductTablesSpanTheirDocumentedRanges) {
    CCODEC codec;
    const codec::CodecTables& t = codec.Tables();
    struct Expect {
        const codec::ProductTable* table;
        int32_t largest;
    };
    const Expect expected[] = {{&t.MulCosPi4, 2121},    {&t.MulSinPi8, 1148},   {&t.MulCosPi8, 2777},
                               {&t.MulSinPi16, 585},    {&t.MulCosPi16, 2941},  {&t.QMulSinPi16, 146},
                               {&t.QMulCosPi16, 735},   {&t.QMulSin3Pi16, 416}, {&t.QMulCos3Pi16, 624},
                               {&t.MulSinPi8Div1024, 1}};
    for (const Expect& e : expected) {
        const auto [low, high] = std::minmax_element(e.table->entry.begin(), e.table->entry.end());
        EXPECT_EQ(*low, -e.largest);
        EXPECT_EQ(*high, e.largest);
        EXPECT_EQ(e.table->At(0), 0);
    }
    EXPECT_EQ(t.MulSinPi8.At(-3000), -1148);
    EXPECT_EQ(t.MulCosPi4.At(3000), 2121);
    EXPECT_EQ(t.MulCosPi4.At(-1), 0);  // truncation toward zero, not floor
    EXPECT_EQ(t.MulCosPi8.At(-100), -92);
}

TEST(CodecTables, SinPi8Div1024IsNonZeroOnlyFrom2675) {
    CCODEC codec;
    const codec::ProductTable& t = codec.Tables().MulSinPi8Div1024;
    for (int x = -3000; x <= 3000; ++x) {
        const int expected = x <= -2675 ? -1 : x >= 2675 ? 1 : 0;
        ASSERT_EQ(t.At(x), expected) << x;
    }
}

TEST(CodecTables, ColourTablesRoundTiesToEven) {
    CCODEC codec;
    const auto& ycc = codec.Tables().YccTable;
    EXPECT_EQ(ycc[1][0], 0);
    EXPECT_EQ(ycc[1][1], 1);
    EXPECT_EQ(ycc[1][5], 0);  // 0.5 goes to 0
    EXPECT_EQ(ycc[3][5], 2);  // 1.5 goes to 2
    EXPECT_EQ(ycc[5][5], 2);  // 2.5 goes to 2
    const int32_t row255[9] = {76, 150, 29, -43, -84, 128, -107, -21, 0};
    EXPECT_EQ(0, std::memcmp(ycc[255].data(), row255, sizeof row255));
    for (int c = 0; c < 9; ++c) EXPECT_EQ(ycc[256][c], 0);
    const auto& rgb = codec.Tables().RgbTable;
    const int32_t row128[5] = {227, -91, -44, 179, 0};
    EXPECT_EQ(0, std::memcmp(rgb[128].data(), row128, sizeof row128));
    EXPECT_EQ(rgb[255][0], 452);
    EXPECT_EQ(rgb[255][3], 358);
}

TEST(CodecTables, OffsetTablesAndCoefficientPositions) {
    CCODEC codec;
    const codec::CodecTables& t = codec.Tables();
    EXPECT_EQ(t.RowOffset[0], 0);
    EXPECT_EQ(t.RowOffset[29], 9280);
    EXPECT_EQ(t.RowOffset[320], 102400);
    EXPECT_EQ(t.ByteBase[255], 65280);
    EXPECT_EQ(t.ByteBase[256], 0);
    const int32_t positions[17] = {0, 1, 2, 320, 321, 322, 640, 641, 642, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(t.CoefPos.data(), positions, sizeof positions));
}

TEST(CodecTables, IntegerColourFormsEqualTheTableForEveryByte) {
    CCODEC codec;
    const auto& ycc = codec.Tables().YccTable;
    using namespace codec::kernels;
    for (int v = 0; v < 256; ++v) {
        ASSERT_EQ(YFromRed(v), ycc[v][0]) << v;
        ASSERT_EQ(YFromGreen(v), ycc[v][1]) << v;
        ASSERT_EQ(YFromBlue(v), ycc[v][2]) << v;
        ASSERT_EQ(CbFromRed(v), ycc[v][3]) << v;
        ASSERT_EQ(CbFromGreen(v), ycc[v][4]) << v;
        ASSERT_EQ(Half(v), ycc[v][5]) << v;
        ASSERT_EQ(CrFromGreen(v), ycc[v][6]) << v;
        ASSERT_EQ(CrFromBlue(v), ycc[v][7]) << v;
    }
}

TEST(CodecTables, InitDctRebuildsTheSameTables) {
    CCODEC fresh, rebuilt;
    rebuilt.敷居 = 10;
    EXPECT_EQ(rebuilt.InitDCT(), 0);
    EXPECT_EQ(rebuilt.敷居, 10);
    EXPECT_EQ(0, std::memcmp(&fresh.Tables().trig, &rebuilt.Tables().trig, sizeof(codec::TrigConstants)));
    EXPECT_EQ(fresh.Tables().MulCosPi16.entry, rebuilt.Tables().MulCosPi16.entry);
    EXPECT_EQ(fresh.Tables().YccTable, rebuilt.Tables().YccTable);
    EXPECT_EQ(fresh.Tables().RgbTable, rebuilt.Tables().RgbTable);
}

TEST(CodecTables, RoundHalfEven) {
    EXPECT_EQ(codec::RoundHalfEven(0.5), 0);
    EXPECT_EQ(codec::RoundHalfEven(1.5), 2);
    EXPECT_EQ(codec::RoundHalfEven(2.5), 2);
    EXPECT_EQ(codec::RoundHalfEven(127.5), 128);
    EXPECT_EQ(codec::RoundHalfEven(-2.5), -2);
    EXPECT_EQ(codec::RoundHalfEven(-1148.4), -1148);
    EXPECT_EQ(codec::RoundHalfEven(0.49999999999999994), 0);
}

}  // namespace
