// EncodeDCTPress: colour split, the 3 x 3 lowest coefficients of each luminance block with predicted
// DC, the chrominance planes reduced to 20 x 15 area values, and the three sections packed.
#include <algorithm>

#include "codec/CCODEC.h"
#include "codec/codec_workspace.h"

namespace {

using codec::kBlockColumns;
using codec::kBlockRows;
using codec::kPictureRowBytes;
using codec::kPlaneWidth;
using codec::kReducedHeight;
using codec::kReducedWidth;
using codec::kernels::kStripRows;

// One halving level of a band of width x height with row stride `width`: each output is the sum of a
// 2 x 2 square divided by 2 (the values are never negative, so the shift truncates as division does).
void HalveBand(const int32_t* source, int width, int height, int32_t* destination) {
    const int out_width = width / 2;
    for (int j = 0; j < height / 2; ++j) {
        const int32_t* upper = source + 2 * j * width;
        const int32_t* lower = upper + width;
        for (int i = 0; i < out_width; ++i) {
            destination[j * out_width + i] =
                (upper[2 * i] + upper[2 * i + 1] + lower[2 * i] + lower[2 * i + 1]) >> 1;
        }
    }
}

// Levels 2 to 4 of the chrominance reduction: 160 x 120 -> 80 x 60 -> 40 x 30 -> 20 x 15.
void ReduceToGrid(const int32_t* reduced, int32_t* quarter, int32_t* eighth, codec::LowBandGrid& grid) {
    HalveBand(reduced, kReducedWidth, kReducedHeight, quarter);
    HalveBand(quarter, kReducedWidth / 2, kReducedHeight / 2, eighth);
    HalveBand(eighth, kReducedWidth / 4, kReducedHeight / 4, grid.data());
}

// One strip of 8 picture rows: luminance transformed, chrominance halved once.
void EncodeStrip(const uint8_t* picture, int block_row, int32_t threshold, codec::Workspace& work) {
    codec::EncoderWork& w = work.encoder;
    const int first_row = block_row * kStripRows;
    for (int r = 0; r < kStripRows; ++r) {
        codec::kernels::SplitRow(picture + (first_row + r) * kPictureRowBytes, w.luma[r], w.cb_rows[r],
                                 w.cr_rows[r]);
    }
    for (int pair = 0; pair < kStripRows / 2; ++pair) {
        const int reduced_row = first_row / 2 + pair;
        codec::kernels::HalvePairSums(w.cb_rows[2 * pair], w.cb_rows[2 * pair + 1],
                                      &w.cb_reduced[reduced_row * kReducedWidth], kReducedWidth);
        codec::kernels::HalvePairSums(w.cr_rows[2 * pair], w.cr_rows[2 * pair + 1],
                                      &w.cr_reduced[reduced_row * kReducedWidth], kReducedWidth);
    }
    codec::kernels::ForwardStrip(w.luma, threshold, work.coefficients, block_row);
}

// Replaces each DC by its difference to the DC on its left (first column: to the DC above), always
// against the neighbour's own value.
void PredictDc(std::array<int32_t, codec::kBlockCount>& dc) {
    for (int b = 0; b < kBlockRows; ++b) {
        int32_t* row = &dc[b * kBlockColumns];
        for (int a = kBlockColumns - 1; a >= 1; --a) row[a] -= row[a - 1];
    }
    for (int b = kBlockRows - 1; b >= 1; --b) dc[b * kBlockColumns] -= dc[(b - 1) * kBlockColumns];
}

}  // namespace

int CCODEC::EncodeDCTPress(std::span<const uint8_t> BmpDat, std::span<uint8_t> buf) {
    if (BmpDat.size() < codec::kPictureBytes) return codec::kStatusSubscript;
    codec::Workspace& work = *work_;
    codec::EncoderWork& w = work.encoder;
    for (int b = 0; b < kBlockRows; ++b) EncodeStrip(BmpDat.data(), b, 敷居, work);
    PredictDc(work.coefficients[0]);
    ReduceToGrid(w.cb_reduced.data(), w.cb_quarter.data(), w.eighth.data(), w.cb_grid);
    ReduceToGrid(w.cr_reduced.data(), w.cr_quarter.data(), w.eighth.data(), w.cr_grid);

    codec::FrameWriter writer(FrameBuf);
    codec::PackLowBand(w.cb_grid, writer);
    codec::PackLowBand(w.cr_grid, writer);
    codec::PackCoefficients(work.coefficients, 敷居, writer);
    FramePos = static_cast<int32_t>(writer.size());
    if (writer.overflowed() || buf.size() < writer.size()) return codec::kStatusSubscript;
    std::copy_n(FrameBuf.begin(), writer.size(), buf.begin());
    SendDataSize = FramePos;
    return codec::kStatusOk;
}
