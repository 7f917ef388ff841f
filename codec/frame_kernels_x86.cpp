#include "codec/frame_kernels_x86.h"

#ifdef CODEC_HAVE_X86_KERNELS

#include <immintrin.h>

#include <array>

namespace codec::kernels::x86 {
namespace {

using Mask = std::array<int8_t, 16>;

// pshufb masks that gather channel c (0 blue, 1 green, 2 red) of 16 pixels from the 16-byte chunk q of
// their 48 bytes.
constexpr Mask GatherMask(int channel, int chunk) {
    Mask m{};
    for (int i = 0; i < 16; ++i) {
        const int at = 3 * i + channel - 16 * chunk;
        m[i] = static_cast<int8_t>(at >= 0 && at < 16 ? at : 0x80);
    }
    return m;
}

// pshufb masks that place channel c of 16 pixels into the 16-byte chunk q of their 48 bytes.
constexpr Mask ScatterMask(int channel, int chunk) {
    Mask m{};
    for (int i = 0; i < 16; ++i) {
        const int byte = 16 * chunk + i;
        m[i] = static_cast<int8_t>(byte % 3 == channel ? byte / 3 : 0x80);
    }
    return m;
}

template <Mask (*Make)(int, int)>
struct MaskSet {
    std::array<std::array<Mask, 3>, 3> m{};  // [channel][chunk]
    constexpr MaskSet() {
        for (int c = 0; c < 3; ++c) {
            for (int q = 0; q < 3; ++q) m[c][q] = Make(c, q);
        }
    }
};

constexpr MaskSet<GatherMask> kGather;
constexpr MaskSet<ScatterMask> kScatter;

__attribute__((target("avx2"))) inline __m128i Load(const Mask& m) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(m.data()));
}

__attribute__((target("avx2"))) inline __m128i Gather(const __m128i in[3], int channel) {
    const auto& m = kGather.m[channel];
    return _mm_or_si128(
        _mm_or_si128(_mm_shuffle_epi8(in[0], Load(m[0])), _mm_shuffle_epi8(in[1], Load(m[1]))),
        _mm_shuffle_epi8(in[2], Load(m[2])));
}

// round(v * factor) for bytes v held as 16-bit values already shifted left, with the constants that make
// the rounding multiply exact for every byte (the table tests check the portable forms they mirror).
__attribute__((target("avx2"))) inline __m256i Scaled(__m256i shifted, int16_t factor) {
    return _mm256_mulhrs_epi16(shifted, _mm256_set1_epi16(factor));
}

// v * 0.5 rounded to even: (v + ((v >> 1) & 1)) >> 1.
__attribute__((target("avx2"))) inline __m256i Halved(__m256i v) {
    const __m256i odd_half = _mm256_and_si256(_mm256_srli_epi16(v, 1), _mm256_set1_epi16(1));
    return _mm256_srli_epi16(_mm256_add_epi16(v, odd_half), 1);
}

}  // namespace

bool HasAvx2() {
    static const bool has = [] {
        __builtin_cpu_init();  // also correct when first asked from a static constructor
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
}

__attribute__((target("avx2"))) void SplitRowAvx2(const uint8_t* bgr, int16_t* luma, int16_t* cb,
                                                  int16_t* cr) {
    const __m256i bias = _mm256_set1_epi16(128);
    for (int x = 0; x < 320; x += 16, bgr += 48) {
        const __m128i in[3] = {_mm_loadu_si128(reinterpret_cast<const __m128i*>(bgr)),
                               _mm_loadu_si128(reinterpret_cast<const __m128i*>(bgr + 16)),
                               _mm_loadu_si128(reinterpret_cast<const __m128i*>(bgr + 32))};
        const __m256i b = _mm256_cvtepu8_epi16(Gather(in, 0));
        const __m256i g = _mm256_cvtepu8_epi16(Gather(in, 1));
        const __m256i r = _mm256_cvtepu8_epi16(Gather(in, 2));
        const __m256i r3 = _mm256_slli_epi16(r, 3), g3 = _mm256_slli_epi16(g, 3),
                      b3 = _mm256_slli_epi16(b, 3);
        const __m256i y = _mm256_add_epi16(
            _mm256_add_epi16(Scaled(_mm256_slli_epi16(r, 1), 4899), Scaled(_mm256_slli_epi16(g, 2), 4809)),
            Scaled(b, 3735));
        const __m256i u = _mm256_sub_epi16(_mm256_add_epi16(Halved(b), bias),
                                           _mm256_add_epi16(Scaled(r3, 691), Scaled(g3, 1357)));
        const __m256i v = _mm256_sub_epi16(_mm256_add_epi16(Halved(r), bias),
                                           _mm256_add_epi16(Scaled(g3, 1715), Scaled(b3, 333)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(luma + x), y);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(cb + x), u);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(cr + x), v);
    }
}

__attribute__((target("avx2"))) void MergeRowAvx2(const int16_t* luma, const int16_t* area_offsets,
                                                  uint8_t* bgr) {
    for (int area = 0; area < 20; ++area, luma += 16, bgr += 48) {
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(luma));
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(luma + 8));
        __m128i channel[3];
        for (int c = 0; c < 3; ++c) {
            const __m128i offset = _mm_set1_epi16(area_offsets[c * 20 + area]);
            channel[c] = _mm_packus_epi16(_mm_adds_epi16(low, offset), _mm_adds_epi16(high, offset));
        }
        for (int q = 0; q < 3; ++q) {
            const __m128i out =
                _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(channel[0], Load(kScatter.m[0][q])),
                                          _mm_shuffle_epi8(channel[1], Load(kScatter.m[1][q]))),
                             _mm_shuffle_epi8(channel[2], Load(kScatter.m[2][q])));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(bgr + 16 * q), out);
        }
    }
}

namespace {

void TransposeRows(const __m128i (&r)[8], int16_t* out, int out_stride) {
    __m128i a[8], b[8];
    for (int i = 0; i < 4; ++i) {
        a[2 * i] = _mm_unpacklo_epi16(r[2 * i], r[2 * i + 1]);
        a[2 * i + 1] = _mm_unpackhi_epi16(r[2 * i], r[2 * i + 1]);
    }
    for (int i = 0; i < 2; ++i) {
        b[4 * i + 0] = _mm_unpacklo_epi32(a[4 * i + 0], a[4 * i + 2]);
        b[4 * i + 1] = _mm_unpackhi_epi32(a[4 * i + 0], a[4 * i + 2]);
        b[4 * i + 2] = _mm_unpacklo_epi32(a[4 * i + 1], a[4 * i + 3]);
        b[4 * i + 3] = _mm_unpackhi_epi32(a[4 * i + 1], a[4 * i + 3]);
    }
    for (int i = 0; i < 4; ++i) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i * out_stride),
                         _mm_unpacklo_epi64(b[i], b[i + 4]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + (2 * i + 1) * out_stride),
                         _mm_unpackhi_epi64(b[i], b[i + 4]));
    }
}

}  // namespace

void Transpose8x8(const int16_t* in, int in_stride, int16_t* out, int out_stride) {
    __m128i r[8];
    for (int k = 0; k < 8; ++k) r[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + k * in_stride));
    TransposeRows(r, out, out_stride);
}

void SaturateTranspose8x8(const int32_t* in, int in_stride, int16_t* out, int out_stride) {
    __m128i r[8];
    for (int k = 0; k < 8; ++k) {
        const int32_t* row = in + k * in_stride;
        r[k] = _mm_packs_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row)),
                               _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 4)));
    }
    TransposeRows(r, out, out_stride);
}

}  // namespace codec::kernels::x86

#endif
