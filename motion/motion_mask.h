// The motion mask: which pixels of the 320 x 240 picture the detector counts. It is read from a PGM file
// (binary P5 or plain P2, any maximum value, rows top-down as PGM holds them) whose black pixels (value 0)
// are never counted; every other value counts. A mask made without a file counts every pixel.
// Standard library only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace motion {

class MotionMask {
  public:
    MotionMask();  // counts every pixel

    // x from the left, y from the top row of the scene.
    bool Counted(int x, int y) const { return counted_[static_cast<std::size_t>(y) * kWidth + x] != 0; }
    void SetCounted(int x, int y, bool counted) {
        counted_[static_cast<std::size_t>(y) * kWidth + x] = counted ? 1 : 0;
    }
    int CountedPixels() const;

    static constexpr int kWidth = 320;
    static constexpr int kHeight = 240;

  private:
    std::vector<std::uint8_t> counted_;  // 1 or 0 per pixel, rows top-down
};

// Reads a mask file. On failure returns false and sets *error to one line that names the file and the
// problem (cannot be opened, not a PGM, not 320 x 240, cut short); *mask is then unchanged.
bool ReadMotionMask(const std::string& path, MotionMask* mask, std::string* error);
// The same for the file's bytes; `name` names them in the error.
bool ParseMotionMask(std::string_view bytes, const std::string& name, MotionMask* mask, std::string* error);

}  // namespace motion
