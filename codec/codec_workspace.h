// The work buffers of one codec instance, made once with the instance so that no frame allocates.
#pragma once

#include <array>
#include <cstdint>

#include "codec/codec_tables.h"
#include "codec/frame_format.h"
#include "codec/frame_kernels.h"

namespace codec {

inline constexpr int kReducedWidth = kPlaneWidth / 2;    // chrominance after the first halving
inline constexpr int kReducedHeight = kPlaneHeight / 2;  // 160 x 120

struct EncoderWork {
    kernels::LumaRow luma[kernels::kStripRows];
    int16_t cb_rows[kernels::kStripRows][kPlaneWidth];
    int16_t cr_rows[kernels::kStripRows][kPlaneWidth];
    std::array<int32_t, kReducedWidth * kReducedHeight> cb_reduced;
    std::array<int32_t, kReducedWidth * kReducedHeight> cr_reduced;
    std::array<int32_t, kReducedWidth * kReducedHeight / 4> cb_quarter;  // 80 x 60, then 40 x 30
    std::array<int32_t, kReducedWidth * kReducedHeight / 4> cr_quarter;
    std::array<int32_t, kReducedWidth * kReducedHeight / 16> eighth;
    LowBandGrid cb_grid;
    LowBandGrid cr_grid;
};

struct DecoderWork {
    LowBandGrid cb_grid;
    LowBandGrid cr_grid;
    // The whole picture's luminance, so that nothing is written out before every block has decoded.
    int16_t luma[kPlaneHeight][kPlaneWidth];
    // Planes of the exact path for frames whose values need 32-bit checks: one strip of 8 rows each.
    std::array<int32_t, kernels::kStripRows * kPlaneWidth> exact_coefficients;
    std::array<int32_t, kernels::kStripRows * kPlaneWidth> exact_columns;
    std::array<int32_t, kernels::kStripRows * kPlaneWidth> exact_luma;
};

struct Workspace {
    CoefficientSet coefficients;
    EncoderWork encoder;
    DecoderWork decoder;
    std::array<int32_t, kPlaneSamples + 1> synthesis;  // ReWLY's work plane
    std::array<int32_t, kPlaneSamples + 1> analysis;   // WaveLet's work plane
};

}  // namespace codec
