// Hand-vectorised forms of the pixel loops for x86-64 (AVX2, chosen at run time), and the SSE2
// transpose that the inverse transform needs. Each gives exactly the values of the portable loop.
#pragma once

#include <cstdint>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define CODEC_HAVE_X86_KERNELS 1

namespace codec::kernels::x86 {

bool HasAvx2();
void SplitRowAvx2(const uint8_t* bgr, int16_t* luma, int16_t* cb, int16_t* cr);
void MergeRowAvx2(const int16_t* luma, const int16_t* area_offsets, uint8_t* bgr);
// Transposes 8 x 8 values: row k of the input (8 values at in + k * in_stride) becomes column k of the
// output (value j at out + j * out_stride + k).
void Transpose8x8(const int16_t* in, int in_stride, int16_t* out, int out_stride);
// The same from 32-bit input, each value saturated to 16 bits.
void SaturateTranspose8x8(const int32_t* in, int in_stride, int16_t* out, int out_stride);

}  // namespace codec::kernels::x86

#endif
