// The inner loops of the frame encoder and decoder. They compute only what a frame keeps (nine
// coefficients per block, chrominance as area values) and work on one strip of 8 picture rows (one row
// of 40 blocks) at a time, with the 40 blocks side by side so that the compiler can run them in vector
// lanes. They give exactly the values of the table-driven transforms; the tests hold them to that.
#pragma once

#include <cstdint>

#include "codec/frame_format.h"

namespace codec::kernels {

inline constexpr int kStripRows = 8;
inline constexpr int kStripWidth = 320;
// A strip of luminance rows, row r at strip[r].
using LumaRow = int16_t[kStripWidth];

// Integer forms of the YccTable columns: each equals round(v * factor) for every byte value v.
constexpr int32_t YFromRed(int32_t v) {
    return (v * 1225 + 1988) >> 12;
}  // 0.299
constexpr int32_t YFromGreen(int32_t v) {
    return (v * 601 + 523) >> 10;
}  // 0.587
constexpr int32_t YFromBlue(int32_t v) {
    return (v * 467 + 2024) >> 12;
}  // 0.114
constexpr int32_t CbFromRed(int32_t v) {
    return -((v * 691 + 2046) >> 12);
}  // -0.1687
constexpr int32_t CbFromGreen(int32_t v) {
    return -((v * 1357 + 2032) >> 12);
}  // -0.3313
constexpr int32_t Half(int32_t v) {
    return (v + ((v >> 1) & 1)) >> 1;
}  // 0.5, ties to even
constexpr int32_t CrFromGreen(int32_t v) {
    return -((v * 1715 + 2047) >> 12);
}  // -0.4187
constexpr int32_t CrFromBlue(int32_t v) {
    return -((v * 333 + 2033) >> 12);
}  // -0.0813

// One picture row of 320 blue, green, red pixels to luminance (0..255) and chrominance (0..256).
void SplitRow(const uint8_t* bgr, int16_t* luma, int16_t* cb, int16_t* cr);
void SplitRowPortable(const uint8_t* bgr, int16_t* luma, int16_t* cb, int16_t* cr);
// One level of the chrominance reduction for a pair of rows: out[i] = (sum of the 2 x 2 square at
// column 2i) / 2, for `outputs` values.
void HalvePairSums(const int16_t* upper, const int16_t* lower, int32_t* out, int outputs);
// Row and column forward transforms of the 40 blocks of block row `block_row`, threshold applied;
// writes the nine kept coefficients of each block (DC not yet predicted).
void ForwardStrip(const LumaRow* luma, int32_t threshold, CoefficientSet& coefficients, int block_row);
// Column and row inverse transforms of the 40 blocks of block row `block_row`, whose coefficients hold
// reconstructed DC values of magnitude at most kFastMagnitude; luminance saturated to 16 bits. False
// when a product-table argument would leave its table, which fails the frame.
inline constexpr int64_t kFastMagnitude = 32768;
bool InverseStrip(const CoefficientSet& coefficients, int block_row, LumaRow* luma);
// One picture row from luminance and the colour offsets of its 20 areas of 16 pixels
// (area_offsets[c * 20 + area] for blue, green, red), each channel clamped to 0..255.
inline constexpr int kAreaWidth = 16;
inline constexpr int kAreasPerRow = kStripWidth / kAreaWidth;
void MergeRow(const int16_t* luma, const int16_t* area_offsets, uint8_t* bgr);
void MergeRowPortable(const int16_t* luma, const int16_t* area_offsets, uint8_t* bgr);

}  // namespace codec::kernels
