// The compressed frame format: three sections back to back, without header or terminator.
//   1. Cb low band: the 20 x 15 grid of 16 x 16 area values, each coded as the difference to its
//      predictor in one or two bytes.
//   2. Cr low band: the same.
//   3. Luminance: the 3 x 3 lowest coefficients of each of the 1200 blocks, zero runs as one byte.
// The format is the contract with every peer, so these routines are shared by encoder, decoder and tests.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "media/picture_geometry.h"

namespace codec {

inline constexpr size_t kFrameBufSize = 15001;   // the largest frame
inline constexpr size_t kMinFrameSize = 1800;    // 300 + 300 low-band bytes and one run byte per block
inline constexpr size_t kPictureBytes = media::kPictureBytes;  // 320 x 240 pixels, blue, green, red
inline constexpr int kPictureRowBytes = media::kPictureRowBytes;

inline constexpr int kBlockColumns = 40;
inline constexpr int kBlockRows = 30;
inline constexpr int kBlockCount = kBlockColumns * kBlockRows;
inline constexpr int kKeptCoefficients = 9;  // (u, v) for u, v = 0..2, row-major; position 0 is the DC

inline constexpr int kGridColumns = 20;
inline constexpr int kGridRows = 15;
inline constexpr int kGridValues = kGridColumns * kGridRows;
inline constexpr int32_t kLargestCodedValue = 4095;  // what a two-byte code can hold

// A chrominance low band: grid value (row r, column j) at r * 20 + j.
using LowBandGrid = std::array<int32_t, kGridValues>;
// The kept coefficients of every block: [position j][block k], blocks row by row (k = 40 * b + a).
using CoefficientSet = std::array<std::array<int32_t, kBlockCount>, kKeptCoefficients>;

// Appends bytes to a frame buffer of fixed size; remembers when a byte did not fit.
class FrameWriter {
  public:
    explicit FrameWriter(std::span<uint8_t> buffer) : buffer_(buffer) {}
    void Put(uint8_t byte) {
        if (size_ < buffer_.size()) {
            buffer_[size_++] = byte;
        } else {
            overflowed_ = true;
        }
    }
    // Room for `count` bytes at the write position, or null when fewer remain; Commit keeps n of them.
    uint8_t* Reserve(size_t count) { return buffer_.size() - size_ >= count ? &buffer_[size_] : nullptr; }
    void Commit(size_t n) { size_ += n; }
    size_t size() const { return size_; }
    bool overflowed() const { return overflowed_; }

  private:
    std::span<uint8_t> buffer_;
    size_t size_ = 0;
    bool overflowed_ = false;
};

// Reads a frame byte by byte, never beyond its end.
class FrameReader {
  public:
    explicit FrameReader(std::span<const uint8_t> data) : data_(data) {}
    bool Next(uint8_t& byte) {
        if (pos_ >= data_.size()) return false;
        byte = data_[pos_++];
        return true;
    }
    size_t position() const { return pos_; }
    // The bytes not read yet, for loops that read many at once; Skip marks n of them read.
    std::span<const uint8_t> rest() const { return data_.subspan(pos_); }
    void Skip(size_t n) { pos_ += n; }

  private:
    std::span<const uint8_t> data_;
    size_t pos_ = 0;
};

// Sections 1 and 2. Differences of +-4096 (a saturated area beside an empty one) are clamped to +-4095,
// the largest the codes hold, instead of wrapping to a code that reads as 0.
void PackLowBand(const LowBandGrid& grid, FrameWriter& out);
// Reads 300 values and undoes the prediction. False when the input ends inside the section.
bool UnpackLowBand(FrameReader& in, LowBandGrid& grid);

// Section 3 from coefficients whose DC values are already predicted. Position 0 is coded with its full
// magnitude, positions 1..8 with the magnitude less the threshold, exactly as the decoder reads them.
void PackCoefficients(const CoefficientSet& coefficients, int32_t threshold, FrameWriter& out);
// Reads section 3 into coefficients (which the caller has zeroed) until 1200 blocks are complete, the
// input ends or a code cannot be placed; blocks not reached stay zero. Returns the largest magnitude
// stored, so the caller knows which arithmetic the values need.
int64_t UnpackCoefficients(FrameReader& in, int32_t threshold, CoefficientSet& coefficients);

}  // namespace codec
