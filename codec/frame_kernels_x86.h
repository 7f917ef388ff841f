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
// Rows k = 0..7 of `in` (stride in_stride, 8 values each, one per block) become, for each block, its
// 8 consecutive values at out + 8 * block.
void Transpose8x8(const int16_t* in, int in_stride, int16_t* out);

}  // namespace codec::kernels::x86

#endif
