// The one picture that every part of the suite handles: 320 x 240 pixels of 3 bytes each (blue, green,
// red), 960 bytes a row without padding, rows bottom-up as a device-independent bitmap holds them. The
// codec, the capture sources, the server's and the receivers' buffers and the picture files all take their
// sizes from here; this header needs nothing but the standard library, so the codec may include it.
#pragma once

#include <cstddef>

namespace media {

inline constexpr int kPictureWidth = 320;
inline constexpr int kPictureHeight = 240;
inline constexpr int kPixelBytes = 3;
inline constexpr int kPictureRowBytes = kPictureWidth * kPixelBytes;                          // 960
inline constexpr std::size_t kPictureBytes = std::size_t{kPictureRowBytes} * kPictureHeight;  // 230,400

}  // namespace media
