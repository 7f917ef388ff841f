// The captured picture (320 x 240 BGR24, rows bottom-up) as the video encoder takes it: yuv420p, BT.601
// limited range, rows top-down, the three planes back to back (Y 320 x 240, then U and V 160 x 120 each).
// Half the bytes of the captured picture, so the pre-capture buffer holds its pictures in this form.
#pragma once

#include <cstddef>
#include <cstdint>

#include "media/picture_geometry.h"

namespace record {

inline constexpr int kLumaWidth = media::kPictureWidth;
inline constexpr int kLumaHeight = media::kPictureHeight;
inline constexpr int kChromaWidth = kLumaWidth / 2;
inline constexpr int kChromaHeight = kLumaHeight / 2;
inline constexpr std::size_t kLumaBytes = std::size_t{kLumaWidth} * kLumaHeight;
inline constexpr std::size_t kChromaBytes = std::size_t{kChromaWidth} * kChromaHeight;
inline constexpr std::size_t kYuvBytes = kLumaBytes + 2 * kChromaBytes;  // 115,200

// Converts one picture; each chroma sample is the mean of its 2 x 2 pixels.
void BgrToYuv420(const std::uint8_t* bgr_bottom_up, std::uint8_t* yuv);

}  // namespace record
