// The test picture: colour bars, a grey ramp and a square that moves a few pixels every frame, with the
// capture time stamped along its bottom edge (timestamp.h). 320 x 240 BGR24, rows bottom-up like every
// capture source, so that servers without a camera have something live to send.
#pragma once

#include <array>
#include <cstdint>

#include "media/picture_geometry.h"

namespace platform {

class TestPattern {
  public:
    static constexpr int kWidth = media::kPictureWidth;
    static constexpr int kHeight = media::kPictureHeight;
    static constexpr int kFrameBytes = media::kPictureRowBytes * media::kPictureHeight;

    TestPattern();

    // Draws picture number frame_number (the square's place follows it) stamped with capture_micros.
    void Render(std::uint8_t* frame, std::uint64_t frame_number, std::int64_t capture_micros) const;

    // Where the moving square's left edge is in picture frame_number.
    static int SquareLeft(std::uint64_t frame_number);
    static constexpr int kSquareSize = 32;
    static constexpr int kSquareTop = 56;  // scene line (0 = top)

  private:
    std::array<std::uint8_t, kFrameBytes> background_{};
};

}  // namespace platform
