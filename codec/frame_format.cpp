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

// The most bytes one block can take: nine two-byte codes (runs only come between or after codes).
constexpr size_t kLargestBlock = 2 * kKeptCoefficients;

// Codes one block into `bytes` (room for kLargestBlock) and returns their number.
size_t PackBlock(const CoefficientSet& coefficients, int block, int32_t threshold, uint8_t* bytes) {
    size_t n = 0;
    int zero_run = 0;
    for (int j = 0; j < kKeptCoefficients; ++j) {
        const int32_t c = coefficients[j][block];
        if (c == 0) {
            ++zero_run;
            continue;
        }
        if (zero_run > 0) bytes[n++] = static_cast<uint8_t>(zero_run);
        zero_run = 0;
        const int64_t size = std::abs(int64_t{c});
        const int64_t m =
            std::min<int64_t>(j == 0 ? size : std::max<int64_t>(size - threshold, 0), kLargestCodedValue);
        if (m <= 63) {
            bytes[n++] = static_cast<uint8_t>((c > 0 ? 0x80 : 0xC0) + m);
        } else {
            bytes[n++] = static_cast<uint8_t>((c > 0 ? 0x20 : 0x30) + m / 256);
            bytes[n++] = static_cast<uint8_t>(m % 256);
        }
    }
    if (zero_run > 0) bytes[n++] = static_cast<uint8_t>(zero_run);
    return n;
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

// Thresholds up to this size cannot overflow a one-byte code's value, so the common-code loop may run.
constexpr int64_t kCommonCodeThreshold = 1 << 20;

// Reads section 3: a block counter and the position j inside the current block.
class LuminanceReader {
  public:
    LuminanceReader(FrameReader& in, int32_t threshold, CoefficientSet& coefficients)
        : in_(in), threshold_(threshold), coefficients_(coefficients) {}

    int64_t Read() {
        const bool common_codes = std::abs(int64_t{threshold_}) <= kCommonCodeThreshold;
        if (common_codes)
            largest_ = kLargestCodedValue + std::abs(int64_t{threshold_});  // the most a code gives
        while (block_ < kBlockCount) {
            if (common_codes) ReadCommonCodes();
            if (block_ >= kBlockCount || !ReadAnyCode()) break;
        }
        return largest_;
    }

  private:
    void NextPositions(int64_t count) {
        j_ += count;
        if (j_ == kKeptCoefficients) {
            j_ = 0;
            ++block_;
        }
    }

    // One byte of any kind (and the second byte of a two-byte code); false where the section ends.
    bool ReadAnyCode() {
        uint8_t ch = 0;
        if (!in_.Next(ch)) return false;
        if (ch <= 0x1F) {
            NextPositions(ch & 0x0F);  // a run of zeros
            return true;
        }
        if (ch >= 0x40 && ch <= 0x7F) return true;  // not a code: skipped
        bool negative = false;
        int64_t magnitude = 0;
        if (!GetCoefficient(in_, ch, negative, magnitude) || j_ > kLastPlaceablePosition) return false;
        if (j_ > 0) magnitude += threshold_;
        const int64_t value = negative ? -magnitude : magnitude;
        if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
            return false;
        coefficients_[j_ < kKeptCoefficients ? j_ : 0][block_] = static_cast<int32_t>(value);
        largest_ = std::max(largest_, std::abs(value));
        NextPositions(1);
        return true;
    }

    // Every code inside a block, while the threshold is small enough that no value can overflow: the
    // loop of nearly every frame, kept plain so that the processor can run ahead on its branches.
    // Stops at the end of the input (or a two-byte code cut by it), after the last block, or after a
    // run past the block's end, each of which ReadAnyCode then handles.
    void ReadCommonCodes() {
        const std::span<const uint8_t> rest = in_.rest();
        size_t used = 0;
        int j = static_cast<int>(j_);
        int block = block_;
        while (used < rest.size() && block < kBlockCount && j < kKeptCoefficients) {
            const int ch = rest[used];
            if (ch < 0x20) {  // a run of zeros
                j += ch & 0x0F;
                ++used;
            } else if (ch >= 0x80) {
                const int32_t magnitude = (ch & 0x3F) + (j > 0 ? threshold_ : 0);
                coefficients_[j][block] = ch >= 0xC0 ? -magnitude : magnitude;
                ++j;
                ++used;
            } else if (ch < 0x40) {
                if (used + 1 >= rest.size()) break;
                const int32_t magnitude = (ch & 0x0F) * 256 + rest[used + 1] + (j > 0 ? threshold_ : 0);
                coefficients_[j][block] = ch >= 0x30 ? -magnitude : magnitude;
                ++j;
                used += 2;
            } else {
                ++used;  // not a code: skipped
                continue;
            }
            if (j == kKeptCoefficients) {
                j = 0;
                ++block;
            }
        }
        in_.Skip(used);
        j_ = j;
        block_ = block;
    }

    FrameReader& in_;
    const int32_t threshold_;
    CoefficientSet& coefficients_;
    int block_ = 0;
    int64_t j_ = 0;
    int64_t largest_ = 0;
};

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
    uint8_t near_end[kLargestBlock];
    for (int block = 0; block < kBlockCount && !out.overflowed(); ++block) {
        if (uint8_t* at = out.Reserve(kLargestBlock)) {
            out.Commit(PackBlock(coefficients, block, threshold, at));
        } else {
            const size_t n = PackBlock(coefficients, block, threshold, near_end);
            for (size_t i = 0; i < n; ++i) out.Put(near_end[i]);
        }
    }
}

int64_t UnpackCoefficients(FrameReader& in, int32_t threshold, CoefficientSet& coefficients) {
    return LuminanceReader(in, threshold, coefficients).Read();
}

}  // namespace codec
