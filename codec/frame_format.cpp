#include "codec/frame_format.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace codec {
namespace {

void PutLowBandValue(int32_t value, FrameWriter& out) {
    const int32_t c = std::clamp(value, -kLargestCodedValue, kLargestCodedValue);
    if (c >= 0 && c <= 127) {
        out.Put(static_cast<uint8_t>(c));
    } else if (c < 0 && c >= -63) {
        out.Put(static_cast<uint8_t>(0x80 + -c));
    } else if (c > 0) {
        out.Put(static_cast<uint8_t>(0xC0 + c / 256));
        out.Put(static_cast<uint8_t>(c % 256));
    } else {
        out.Put(static_cast<uint8_t>(0xD0 + -c / 256));
        out.Put(static_cast<uint8_t>(-c % 256));
    }
}

bool GetLowBandValue(FrameReader& in, int32_t& value) {
    uint8_t a = 0;
    if (!in.Next(a)) return false;
    if (a <= 0x7F) {
        value = a;
    } else if (a <= 0xBF) {
        value = -(a & 0x3F);
    } else {
        uint8_t low = 0;
        if (!in.Next(low)) return false;
        const int32_t magnitude = (a & 0x0F) * 256 + low;
        value = (a & 0xF0) == 0xC0 ? magnitude : -magnitude;
    }
    return true;
}

// The value coded for grid cell i: its predictor minus itself; the first cell is coded as it is.
int32_t PredictedDifference(const LowBandGrid& grid, int i) {
    if (i == 0) return grid[0];
    const int predictor = i % kGridColumns == 0 ? i - kGridColumns : i - 1;
    return grid[predictor] - grid[i];
}

void PutCoefficient(int32_t c, int64_t magnitude, FrameWriter& out) {
    const int64_t m = std::min<int64_t>(magnitude, kLargestCodedValue);
    if (m <= 63) {
        out.Put(static_cast<uint8_t>((c > 0 ? 0x80 : 0xC0) + m));
    } else {
        out.Put(static_cast<uint8_t>((c > 0 ? 0x20 : 0x30) + m / 256));
        out.Put(static_cast<uint8_t>(m % 256));
    }
}

void PackBlock(const CoefficientSet& coefficients, int block, int32_t threshold, FrameWriter& out) {
    int zero_run = 0;
    for (int j = 0; j < kKeptCoefficients; ++j) {
        const int32_t c = coefficients[j][block];
        if (c == 0) {
            ++zero_run;
            continue;
        }
        if (zero_run > 0) out.Put(static_cast<uint8_t>(zero_run));
        zero_run = 0;
        const int64_t size = std::abs(int64_t{c});
        PutCoefficient(c, j == 0 ? size : std::max<int64_t>(size - threshold, 0), out);
    }
    if (zero_run > 0) out.Put(static_cast<uint8_t>(zero_run));
}

// A coefficient code (one or two bytes, first byte 0x20..0x3F or 0x80..0xFF): its sign and magnitude.
bool GetCoefficient(FrameReader& in, uint8_t first, bool& negative, int64_t& magnitude) {
    if (first >= 0x80) {
        negative = first >= 0xC0;
        magnitude = first & 0x3F;
        return true;
    }
    uint8_t low = 0;
    if (!in.Next(low)) return false;
    negative = first >= 0x30;
    magnitude = (first & 0x0F) * 256 + low;
    return true;
}

// The slots of a block's position counter: 0..8 are the kept positions; 10..16 fall on the DC slot, as
// the position table's unused entries did; anything further cannot be placed.
constexpr int64_t kLastPlaceablePosition = 16;

}  // namespace

void PackLowBand(const LowBandGrid& grid, FrameWriter& out) {
    for (int i = 0; i < kGridValues; ++i) PutLowBandValue(PredictedDifference(grid, i), out);
}

bool UnpackLowBand(FrameReader& in, LowBandGrid& grid) {
    for (int32_t& value : grid) {
        if (!GetLowBandValue(in, value)) return false;
    }
    for (int r = 0; r < kGridRows; ++r) {
        int32_t* row = &grid[r * kGridColumns];
        if (r + 1 < kGridRows) row[kGridColumns] = row[0] - row[kGridColumns];
        for (int j = 0; j + 1 < kGridColumns; ++j) row[j + 1] = row[j] - row[j + 1];
    }
    return true;
}

void PackCoefficients(const CoefficientSet& coefficients, int32_t threshold, FrameWriter& out) {
    for (int block = 0; block < kBlockCount && !out.overflowed(); ++block) {
        PackBlock(coefficients, block, threshold, out);
    }
}

int64_t UnpackCoefficients(FrameReader& in, int32_t threshold, CoefficientSet& coefficients) {
    int64_t largest = 0;
    int block = 0;
    int64_t j = 0;
    uint8_t ch = 0;
    while (block < kBlockCount && in.Next(ch)) {
        if (ch <= 0x1F) {
            j += ch & 0x0F;  // a run of zeros
        } else if (ch >= 0x40 && ch <= 0x7F) {
            continue;  // not a code: skipped
        } else {
            bool negative = false;
            int64_t magnitude = 0;
            if (!GetCoefficient(in, ch, negative, magnitude)) break;
            if (j > kLastPlaceablePosition) break;
            if (j > 0) magnitude += threshold;
            const int64_t value = negative ? -magnitude : magnitude;
            if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) {
                break;
            }
            coefficients[j < kKeptCoefficients ? j : 0][block] = static_cast<int32_t>(value);
            largest = std::max(largest, std::abs(value));
            ++j;
        }
        if (j == kKeptCoefficients) {
            j = 0;
            ++block;
        }
    }
    return largest;
}

}  // namespace codec
