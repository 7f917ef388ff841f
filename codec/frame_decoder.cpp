// DecodeDCTPress: the two low bands expanded to 16 x 16 areas, the luminance blocks rebuilt from their
// nine coefficients, and the three planes merged into blue, green, red.
#include <algorithm>

#include "codec/CCODEC.h"
#include "codec/checked_math.h"
#include "codec/codec_workspace.h"

namespace {

using codec::kBlockColumns;
using codec::kBlockRows;
using codec::kGridColumns;
using codec::kGridRows;
using codec::kPictureRowBytes;
using codec::kPlaneWidth;
using codec::kernels::kStripRows;

constexpr int kAreaSize = 16;  // each low-band value covers 16 x 16 pixels

// Undoes the DC prediction: each row accumulates from the left, the first column from the top.
void RestoreDc(std::array<int32_t, codec::kBlockCount>& dc) {
    for (int b = 0; b < kBlockRows; ++b) {
        int32_t* row = &dc[b * kBlockColumns];
        if (b + 1 < kBlockRows) row[kBlockColumns] += row[0];
        for (int a = 0; a + 1 < kBlockColumns; ++a) row[a + 1] += row[a];
    }
}

// The byte that the four synthesis levels make of a grid value: halved four times with truncation,
// clamped at 255; negative values leave the zeroed plane at 0.
int32_t ChromaByte(int32_t grid_value) {
    return grid_value < 0 ? 0 : std::min(grid_value >> 4, 255);
}

// The colour offsets of the 20 areas of one area row: [channel][area], blue, green, red.
void FillOffsets(const codec::DecoderWork& d, const codec::CodecTables& t, int area_row, int16_t* offsets) {
    for (int area = 0; area < kGridColumns; ++area) {
        const auto& cb = t.RgbTable[ChromaByte(d.cb_grid[area_row * kGridColumns + area])];
        const auto& cr = t.RgbTable[ChromaByte(d.cr_grid[area_row * kGridColumns + area])];
        offsets[area] = static_cast<int16_t>(cb[0] - 226);
        offsets[kGridColumns + area] = static_cast<int16_t>(cr[1] + cb[2] + 135);
        offsets[2 * kGridColumns + area] = static_cast<int16_t>(cr[3] - 179);
    }
}

void MergePicture(const codec::DecoderWork& d, const codec::CodecTables& t, uint8_t* picture) {
    int16_t offsets[3 * kGridColumns];
    for (int area_row = 0; area_row < kGridRows; ++area_row) {
        FillOffsets(d, t, area_row, offsets);
        for (int y = area_row * kAreaSize; y < (area_row + 1) * kAreaSize; ++y) {
            codec::kernels::MergeRow(d.luma[y], offsets, picture + y * kPictureRowBytes);
        }
    }
}

bool ReconstructLumaFast(codec::Workspace& work) {
    RestoreDc(work.coefficients[0]);
    for (int b = 0; b < kBlockRows; ++b) {
        if (!codec::kernels::InverseStrip(work.coefficients, b, &work.decoder.luma[b * kStripRows]))
            return false;
    }
    return true;
}

}  // namespace

// The same reconstruction through the general transforms with 32-bit checks, for frames whose values
// are too large for the fast path (only possible with a very large threshold or a hostile frame); it
// stops with the status of the first failing step.
int CCODEC::ReconstructLumaExactly() {
    codec::Workspace& work = *work_;
    codec::DecoderWork& d = work.decoder;
    auto& dc = work.coefficients[0];
    d.exact_coefficients.fill(0);
    codec::CheckedMath m;
    for (int b = 0; b < kBlockRows; ++b) {
        if (b + 1 < kBlockRows)
            dc[(b + 1) * kBlockColumns] = m.Add(dc[(b + 1) * kBlockColumns], dc[b * kBlockColumns]);
        if (!m.ok()) return m.status();
        for (int a = 0; a < kBlockColumns; ++a) {
            const int k = b * kBlockColumns + a;
            if (a + 1 < kBlockColumns) dc[k + 1] = m.Add(dc[k + 1], dc[k]);
            if (!m.ok()) return m.status();
            for (int j = 0; j < codec::kKeptCoefficients; ++j) {
                d.exact_coefficients[(j / 3) * kPlaneWidth + 8 * a + j % 3] = work.coefficients[j][k];
            }
            for (int v = 0; v < 8; ++v) {
                if (int status = tIFDCT8(d.exact_coefficients, d.exact_columns, 8 * a + v)) return status;
            }
            for (int r = 0; r < 8; ++r) {
                if (int status = IFDCT8(d.exact_columns, d.exact_luma, 8 * a + r * kPlaneWidth))
                    return status;
            }
        }
        for (int r = 0; r < kStripRows; ++r) {
            for (int x = 0; x < kPlaneWidth; ++x) {
                d.luma[b * kStripRows + r][x] =
                    static_cast<int16_t>(std::clamp(d.exact_luma[r * kPlaneWidth + x], -32768, 32767));
            }
        }
    }
    return codec::kStatusOk;
}

int CCODEC::DecodeDCTPress(std::span<const uint8_t> InDat, std::span<uint8_t> OutDat) {
    if (OutDat.size() < codec::kPictureBytes) return codec::kStatusSubscript;
    codec::Workspace& work = *work_;
    codec::DecoderWork& d = work.decoder;
    codec::FrameReader reader(InDat);
    if (!codec::UnpackLowBand(reader, d.cb_grid) || !codec::UnpackLowBand(reader, d.cr_grid)) {
        return codec::kStatusSubscript;
    }
    for (auto& position : work.coefficients) position.fill(0);
    const int64_t largest = codec::UnpackCoefficients(reader, 敷居, work.coefficients);
    if (largest <= codec::kernels::kFastMagnitude) {
        if (!ReconstructLumaFast(work)) return codec::kStatusSubscript;
    } else if (int status = ReconstructLumaExactly()) {
        return status;
    }
    MergePicture(d, *tables_, OutDat.data());
    return codec::kStatusOk;
}
