#include "codec/frame_kernels.h"

#include <algorithm>
#include <cstdlib>

#include "codec/frame_kernels_x86.h"

// ThreadSanitizer cannot run the load-time resolvers of function clones (its runtime is not up yet when
// they run): under it the strip loops are built once, for the baseline instruction set.
#if defined(__SANITIZE_THREAD__)
#define CODEC_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define CODEC_THREAD_SANITIZER 1
#endif
#endif

// The strip loops run once for the baseline instruction set and once for AVX2, chosen at load time.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(CODEC_THREAD_SANITIZER)
#define CODEC_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define CODEC_VECTOR_CLONES
#endif

namespace codec::kernels {
namespace {

// The product tables' rules, (x * multiplier) \ divisor with truncation toward zero.
inline int32_t Mul256(int32_t x, int32_t multiplier) {
    return x * multiplier / 256;
}
inline int32_t Mul1024(int32_t x, int32_t multiplier) {
    return x * multiplier / 1024;
}
inline int32_t CosPi4(int32_t x) {
    return Mul256(x, 181);
}

inline int32_t Thresholded(int32_t value, int32_t threshold) {
    return std::abs(value) < threshold ? 0 : value;
}

// 1 when x lies outside the product tables' range; an int so that the block loops can OR it up.
inline int OutsideTable(int32_t x) {
    return static_cast<int>(x < -3000) | static_cast<int>(x > 3000);
}

inline uint8_t Clamped(int32_t value) {
    return static_cast<uint8_t>(std::clamp(value, 0, 255));
}

// Full-scale row transform of the 40 blocks of one picture row, pixel k of each block in a[k][block]:
// outputs 0, 1, 2.
CODEC_VECTOR_CLONES
void ForwardRows(const int16_t (*__restrict a)[kBlockColumns], int32_t* __restrict out0,
                 int32_t* __restrict out1, int32_t* __restrict out2) {
    for (int block = 0; block < kBlockColumns; ++block) {
        const int32_t s07 = a[0][block] + a[7][block], s16 = a[1][block] + a[6][block];
        const int32_t s25 = a[2][block] + a[5][block], s34 = a[3][block] + a[4][block];
        const int32_t d07 = a[0][block] - a[7][block], d16 = a[1][block] - a[6][block];
        const int32_t d25 = a[2][block] - a[5][block], d34 = a[3][block] - a[4][block];
        const int32_t p = CosPi4(d16 + d25), q = CosPi4(d16 - d25);
        out0[block] = CosPi4(s07 + s16 + s25 + s34);
        out2[block] = Mul256(s07 - s34, 237) + Mul256(s16 - s25, 98);
        out1[block] = Mul256(d07 + p, 251) + Mul256(d34 + q, 50);
    }
}

// Quarter-scale column transform of one coefficient column of the 40 blocks: rows 0, 1, 2, thresholded.
CODEC_VECTOR_CLONES
void ForwardColumns(const int32_t (*__restrict in)[kBlockColumns], int32_t threshold,
                    int32_t* __restrict out0, int32_t* __restrict out1, int32_t* __restrict out2) {
    for (int block = 0; block < kBlockColumns; ++block) {
        int32_t a[8];
        for (int k = 0; k < 8; ++k) a[k] = in[k][block];
        const int32_t s07 = a[0] + a[7], s16 = a[1] + a[6], s25 = a[2] + a[5], s34 = a[3] + a[4];
        const int32_t d07 = a[0] - a[7], d16 = a[1] - a[6], d25 = a[2] - a[5], d34 = a[3] - a[4];
        const int32_t p = CosPi4(d16 + d25), q = CosPi4(d16 - d25);
        const int32_t c0 = (CosPi4(s07) + CosPi4(s16) + CosPi4(s25) + CosPi4(s34)) / 4;
        const int32_t c2 = Mul256(s16 - s25, 98) / 1024 + Mul256(s07 - s34, 237) / 4;
        const int32_t c1 = Mul1024(d07 + p, 251) + Mul1024(d34 + q, 50);
        out0[block] = Thresholded(c0, threshold);
        out1[block] = Thresholded(c1, threshold);
        out2[block] = Thresholded(c2, threshold);
    }
}

// Full-scale column inverse of column v (coefficient rows 0..2 in a0, a1, a2) of the 40 blocks; writes
// the 8 rows of that column. Returns non-zero when a table argument leaves the table.
CODEC_VECTOR_CLONES
int InverseColumns(const int32_t* __restrict a0, const int32_t* __restrict a1, const int32_t* __restrict a2,
                   int32_t (*__restrict out)[kBlockColumns]) {
    int outside = 0;
    for (int block = 0; block < kBlockColumns; ++block) {
        const int32_t H = CosPi4(a0[block]);
        const int32_t M = Mul256(a2[block], 98), R = Mul256(a2[block], 237);
        const int32_t V2 = Mul256(a1[block], 251), L = Mul256(a1[block], 50);
        const int32_t q_minus_p = V2 - L, p_plus_q = L + V2;
        outside |= OutsideTable(a0[block]) | OutsideTable(q_minus_p) | OutsideTable(p_plus_q);
        const int32_t W = CosPi4(q_minus_p), P2 = CosPi4(p_plus_q);
        out[0][block] = H + R + V2;
        out[1][block] = H + M + P2;
        out[2][block] = H - M + W;
        out[3][block] = H - R + L;
        out[4][block] = H - R - L;
        out[5][block] = H - M - W;
        out[6][block] = H + M - P2;
        out[7][block] = H + R - V2;
    }
    return outside;
}

// Quarter-scale row inverse of one picture row of the 40 blocks (columns 0..2 in b0, b1, b2); pixel k of
// block `block` goes to out[k][block].
CODEC_VECTOR_CLONES
int InverseRows(const int32_t* __restrict b0, const int32_t* __restrict b1, const int32_t* __restrict b2,
                int32_t (*__restrict out)[kBlockColumns]) {
    int outside = 0;
    for (int block = 0; block < kBlockColumns; ++block) {
        const int32_t H = CosPi4(b0[block]);
        const int32_t M = Mul256(b2[block], 98), R = Mul256(b2[block], 237);
        const int32_t V2 = Mul256(b1[block], 251), L = Mul256(b1[block], 50);
        const int32_t q_minus_p = V2 - L, p_plus_q = L + V2;
        outside |= OutsideTable(q_minus_p) | OutsideTable(p_plus_q);
        const int32_t W = CosPi4(q_minus_p), P2 = CosPi4(p_plus_q);
        out[0][block] = (H + R + V2) / 4;
        out[1][block] = (H + M + P2) / 4;
        out[2][block] = (H - M + W) / 4;
        out[3][block] = (H - R + L) / 4;
        out[4][block] = (H - R - L) / 4;
        out[5][block] = (H - M - W) / 4;
        out[6][block] = (H + M - P2) / 4;
        out[7][block] = (H + R - V2) / 4;
    }
    return outside;
}

// Pixel k of each block, gathered as by_pixel[k][block], laid out along the picture row and saturated
// to 16 bits.
void BlocksToRow(const int32_t (*by_pixel)[kBlockColumns], int16_t* row) {
#ifdef CODEC_HAVE_X86_KERNELS
    for (int group = 0; group < kBlockColumns; group += 8) {
        x86::SaturateTranspose8x8(&by_pixel[0][group], kBlockColumns, row + 8 * group, 8);
    }
#else
    for (int block = 0; block < kBlockColumns; ++block) {
        for (int k = 0; k < 8; ++k)
            row[8 * block + k] = static_cast<int16_t>(std::clamp(by_pixel[k][block], -32768, 32767));
    }
#endif
}

// The picture row split into its blocks: by_pixel[k][block] is pixel k of the block.
void RowToBlocks(const int16_t* row, int16_t (*by_pixel)[kBlockColumns]) {
#ifdef CODEC_HAVE_X86_KERNELS
    for (int group = 0; group < kBlockColumns; group += 8) {
        x86::Transpose8x8(row + 8 * group, 8, &by_pixel[0][group], kBlockColumns);
    }
#else
    for (int block = 0; block < kBlockColumns; ++block) {
        for (int k = 0; k < 8; ++k) by_pixel[k][block] = row[8 * block + k];
    }
#endif
}

}  // namespace

void SplitRow(const uint8_t* bgr, int16_t* luma, int16_t* cb, int16_t* cr) {
#ifdef CODEC_HAVE_X86_KERNELS
    if (x86::HasAvx2()) return x86::SplitRowAvx2(bgr, luma, cb, cr);
#endif
    SplitRowPortable(bgr, luma, cb, cr);
}

CODEC_VECTOR_CLONES
void SplitRowPortable(const uint8_t* __restrict bgr, int16_t* __restrict luma, int16_t* __restrict cb,
                      int16_t* __restrict cr) {
    for (int x = 0; x < kStripWidth; ++x) {
        const int32_t B = bgr[3 * x], G = bgr[3 * x + 1], R = bgr[3 * x + 2];
        luma[x] = static_cast<int16_t>(YFromRed(R) + YFromGreen(G) + YFromBlue(B));
        cb[x] = static_cast<int16_t>(CbFromRed(R) + CbFromGreen(G) + Half(B) + 128);
        cr[x] = static_cast<int16_t>(Half(R) + CrFromGreen(G) + CrFromBlue(B) + 128);
    }
}

CODEC_VECTOR_CLONES
void HalvePairSums(const int16_t* __restrict upper, const int16_t* __restrict lower, int32_t* __restrict out,
                   int outputs) {
    for (int i = 0; i < outputs; ++i) {
        out[i] = (upper[2 * i] + upper[2 * i + 1] + lower[2 * i] + lower[2 * i + 1]) >> 1;
    }
}

void ForwardStrip(const LumaRow* luma, int32_t threshold, CoefficientSet& coefficients, int block_row) {
    int32_t rows[3][8][kBlockColumns];  // [output column v][picture row r][block]
    for (int r = 0; r < kStripRows; ++r) {
        int16_t by_pixel[8][kBlockColumns];
        RowToBlocks(luma[r], by_pixel);
        ForwardRows(by_pixel, rows[0][r], rows[1][r], rows[2][r]);
    }
    const int first = block_row * kBlockColumns;
    for (int v = 0; v < 3; ++v) {
        ForwardColumns(rows[v], threshold, &coefficients[v][first], &coefficients[3 + v][first],
                       &coefficients[6 + v][first]);
    }
}

bool InverseStrip(const CoefficientSet& coefficients, int block_row, LumaRow* luma) {
    int32_t columns[3][8][kBlockColumns];  // [coefficient column v][picture row r][block]
    const int first = block_row * kBlockColumns;
    int outside = 0;
    for (int v = 0; v < 3; ++v) {
        outside |= InverseColumns(&coefficients[v][first], &coefficients[3 + v][first],
                                  &coefficients[6 + v][first], columns[v]);
    }
    for (int r = 0; r < kStripRows; ++r) {
        int32_t by_pixel[8][kBlockColumns];
        outside |= InverseRows(columns[0][r], columns[1][r], columns[2][r], by_pixel);
        BlocksToRow(by_pixel, luma[r]);
    }
    return outside == 0;
}

void MergeRow(const int16_t* luma, const int16_t* area_offsets, uint8_t* bgr) {
#ifdef CODEC_HAVE_X86_KERNELS
    if (x86::HasAvx2()) return x86::MergeRowAvx2(luma, area_offsets, bgr);
#endif
    MergeRowPortable(luma, area_offsets, bgr);
}

void MergeRowPortable(const int16_t* luma, const int16_t* area_offsets, uint8_t* bgr) {
    for (int x = 0; x < kStripWidth; ++x) {
        const int32_t y = luma[x];
        const int area = x / kAreaWidth;
        for (int c = 0; c < 3; ++c) bgr[3 * x + c] = Clamped(y + area_offsets[c * kAreasPerRow + area]);
    }
}

}  // namespace codec::kernels
