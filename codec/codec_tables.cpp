#include "codec/codec_tables.h"

#include <cmath>

namespace codec {
namespace {

// PI as the frame format fixes it: every peer builds its tables from this value, not the full-precision one.
constexpr double kPi = 3.14159265;

int32_t Scaled(double value) {
    return static_cast<int32_t>(RoundHalfEven(value * 256.0));
}

int32_t RoundedProduct(int v, double factor) {
    return static_cast<int32_t>(RoundHalfEven(static_cast<double>(v) * factor));
}

void BuildTrigConstants(CodecTables& t) {
    TrigConstants& c = t.trig;
    c.CosPi4 = Scaled(std::cos(kPi / 4));
    c.SinPi8 = Scaled(std::sin(kPi / 8));
    c.CosPi8 = Scaled(std::cos(kPi / 8));
    c.Sin3Pi8 = Scaled(std::sin(3 * kPi / 8));
    c.Cos3Pi8 = Scaled(std::cos(3 * kPi / 8));
    c.SinPi16 = Scaled(std::sin(kPi / 16));
    c.CosPi16 = Scaled(std::cos(kPi / 16));
    c.Sin5Pi16 = Scaled(std::sin(5 * kPi / 16));
    c.Cos5Pi16 = Scaled(std::cos(5 * kPi / 16));
    c.Sin3Pi16 = Scaled(std::sin(3 * kPi / 16));
    c.Cos3Pi16 = Scaled(std::cos(3 * kPi / 16));
    c.Sin7Pi16 = Scaled(std::sin(7 * kPi / 16));
    c.Cos7Pi16 = Scaled(std::cos(7 * kPi / 16));
    t.MulCosPi4.Fill(c.CosPi4, 256);
}

void BuildYccTable(CodecTables& t) {
    static constexpr double kFactors[8] = {0.299, 0.587, 0.114, -0.1687, -0.3313, 0.5, -0.4187, -0.0813};
    for (int v = 0; v < 256; ++v) {
        for (int c = 0; c < 8; ++c) t.YccTable[v][c] = RoundedProduct(v, kFactors[c]);
    }
}

void BuildRgbTable(CodecTables& t) {
    static constexpr double kFactors[4] = {1.7718, -0.7139, -0.3441, 1.402};
    for (int v = 0; v < 256; ++v) {
        for (int c = 0; c < 4; ++c) t.RgbTable[v][c] = RoundedProduct(v, kFactors[c]);
    }
}

void BuildOffsetTables(CodecTables& t) {
    for (int k = 0; k <= 320; ++k) t.RowOffset[k] = k * kPlaneWidth;
    for (int k = 0; k <= 255; ++k) t.ByteBase[k] = k * 256;
}

void BuildMulTables(CodecTables& t) {
    const TrigConstants& c = t.trig;
    t.MulSinPi8.Fill(c.SinPi8, 256);
    t.MulSinPi8Div1024.Fill(c.SinPi8, 256, 1024);
    t.MulCosPi8.Fill(c.CosPi8, 256);
    t.MulSinPi16.Fill(c.SinPi16, 256);
    t.MulCosPi16.Fill(c.CosPi16, 256);
    t.QMulSinPi16.Fill(c.SinPi16, 1024);
    t.QMulCosPi16.Fill(c.CosPi16, 1024);
    t.QMulSin3Pi16.Fill(c.Sin3Pi16, 1024);
    t.QMulCos3Pi16.Fill(c.Cos3Pi16, 1024);
}

void BuildCoefPos(CodecTables& t) {
    static constexpr int32_t kPositions[9] = {0, 1, 2, 320, 321, 322, 640, 641, 642};
    t.CoefPos.fill(0);
    for (int j = 0; j < 9; ++j) t.CoefPos[j] = kPositions[j];
}

}  // namespace

double RoundHalfEven(double x) {
    double nearest = std::round(x);                                                // ties away from zero
    if (std::fabs(x - std::trunc(x)) == 0.5) nearest = 2.0 * std::round(x / 2.0);  // a tie: the even one
    return nearest;
}

void ProductTable::Fill(int32_t multiplier_value, int32_t divisor_value, int32_t post_divisor_value) {
    multiplier = multiplier_value;
    divisor = divisor_value;
    post_divisor = post_divisor_value;
    for (int i = 0; i < kProductEntries; ++i) entry[i] = Formula(i + kProductMin);
}

void CodecTables::Build() {
    BuildTrigConstants(*this);
    BuildYccTable(*this);
    BuildRgbTable(*this);
    BuildOffsetTables(*this);
    BuildMulTables(*this);
    BuildCoefPos(*this);
}

}  // namespace codec
