// The receivers' picture buffer, its painting into a picture box and its snapshot file.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <span>
#include <string>

#include "media/picture_geometry.h"

namespace platform {
class PictureBox;
}

namespace receiver {

inline constexpr int kPictureWidth = media::kPictureWidth;
inline constexpr int kPictureHeight = media::kPictureHeight;
// 320 x 240 pixels of blue, green, red bytes, rows bottom-up, and one spare byte.
inline constexpr std::size_t kBmpBufBytes = media::kPictureBytes + 1;
using BmpBuffer = std::array<std::uint8_t, kBmpBufBytes>;

// Draws the whole 320 x 240 picture into the destination rectangle (a negative width mirrors it) in one
// StretchDIBits call.
void PaintPicture(platform::PictureBox& box, int x_dest, int y_dest, int width, int height,
                  const BmpBuffer& BmpBuf);

// Writes the snapshot file anew (an older, longer file is emptied first): the bitmap headers and all of
// BmpBuf, 230,455 bytes. On failure returns false with a description in error.
bool WriteSnapshot(const std::string& path, const BmpBuffer& BmpBuf, std::string* error);
// What the user is told when the snapshot file at path cannot be written.
std::string SnapshotFailedText(const std::string& path);

// The text over a picture that is no longer live: when it was shown, in local time.
std::string OldPictureText(std::time_t shown_at);

}  // namespace receiver
