// JPEG through TurboJPEG: a 320 x 240 picture of blue, green, red bytes with its rows bottom-up (the capture
// buffer's layout) becomes an upright baseline JPEG in a buffer that is sized once for the largest one.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace web {

class JpegEncoder {
  public:
    explicit JpegEncoder(int quality);
    ~JpegEncoder();
    JpegEncoder(const JpegEncoder&) = delete;
    JpegEncoder& operator=(const JpegEncoder&) = delete;

    // The most bytes one encoded picture can take.
    static std::size_t MaxJpegBytes();

    // Encodes the picture (230,400 bytes) into out, which must hold MaxJpegBytes(); returns the JPEG's
    // length, 0 when TurboJPEG failed.
    std::size_t Encode(const std::uint8_t* bottom_up_bgr, std::span<std::uint8_t> out);

  private:
    void* handle_ = nullptr;
    int quality_;
};

}  // namespace web
