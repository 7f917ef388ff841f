// The fixed tables of one codec instance: trigonometric constants scaled by 256, the product tables that
// replace every multiplication by an irrational constant in the block transforms, the colour tables and
// the small offset tables. Built once per instance; no operation changes them afterwards.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "media/picture_geometry.h"

namespace codec {

inline constexpr int kPlaneWidth = media::kPictureWidth;
inline constexpr int kPlaneHeight = media::kPictureHeight;
inline constexpr int kPlaneSamples = kPlaneWidth * kPlaneHeight;  // 76800

// The argument range that a product table covers.
inline constexpr int kProductMin = -3000;
inline constexpr int kProductMax = 3000;
inline constexpr int kProductEntries = kProductMax - kProductMin + 1;

// The 13 trigonometric constants, each round(f(angle) * 256).
struct TrigConstants {
    int32_t CosPi4 = 0, SinPi8 = 0, CosPi8 = 0, Sin3Pi8 = 0, Cos3Pi8 = 0;
    int32_t SinPi16 = 0, CosPi16 = 0, Sin5Pi16 = 0, Cos5Pi16 = 0;
    int32_t Sin3Pi16 = 0, Cos3Pi16 = 0, Sin7Pi16 = 0, Cos7Pi16 = 0;
};

// Entry i holds ((x * multiplier) \ divisor) \ post_divisor for the argument x = i - 3000, with division
// truncating toward zero.
struct ProductTable {
    std::array<int32_t, kProductEntries> entry{};
    int32_t multiplier = 0;
    int32_t divisor = 1;
    int32_t post_divisor = 1;

    static constexpr bool Covers(int64_t x) { return x >= kProductMin && x <= kProductMax; }
    int32_t At(int32_t x) const { return entry[static_cast<size_t>(x - kProductMin)]; }
    // The table's own rule, valid for every argument (the result never exceeds |x| in size).
    int32_t Formula(int64_t x) const { return static_cast<int32_t>(x * multiplier / divisor / post_divisor); }
    void Fill(int32_t multiplier_value, int32_t divisor_value, int32_t post_divisor_value = 1);
};

struct CodecTables {
    TrigConstants trig;
    ProductTable MulCosPi4, MulSinPi8, MulCosPi8, MulSinPi16, MulCosPi16;
    ProductTable QMulSinPi16, QMulCosPi16, QMulSin3Pi16, QMulCos3Pi16;
    ProductTable MulSinPi8Div1024;
    // YccTable[v][c]: the contributions of byte value v to Y (c 0..2), Cb (3..5) and Cr (5..7).
    std::array<std::array<int32_t, 9>, 257> YccTable{};
    // RgbTable[v][c]: v * 1.7718, v * -0.7139, v * -0.3441, v * 1.402, rounded.
    std::array<std::array<int32_t, 5>, 256> RgbTable{};
    std::array<int32_t, 321> RowOffset{};
    std::array<int32_t, 257> ByteBase{};
    std::array<int32_t, 17> CoefPos{};

    // Builds every constant and table.
    void Build();
};

// Rounds to the nearest integer, ties to the even neighbour (0.5 -> 0, 2.5 -> 2, 127.5 -> 128).
double RoundHalfEven(double x);

}  // namespace codec
