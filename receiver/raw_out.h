// --raw-out: every decoded picture as raw BGR24, 320 x 240, top-down and not mirrored, back to back, as
// ffmpeg reads "-f rawvideo -pix_fmt bgr24 -s 320x240", so that what a receiver gets can be recorded or
// streamed on. "-" writes to standard output. A server answers every request with its latest capture, so
// a receiver decodes the same picture many times over; a picture equal to the one written last is not
// written again, and the output carries each capture once.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

#include "media/picture_geometry.h"

namespace receiver {

class RawOut {
  public:
    RawOut() = default;
    ~RawOut();
    RawOut(const RawOut&) = delete;
    RawOut& operator=(const RawOut&) = delete;

    // Opens path ("-": standard output); false with a message in error when it cannot.
    bool Open(const std::string& path, std::string* error);
    bool IsOpen() const { return file_ != nullptr; }
    // Writes one picture (rows bottom-up in picture) unless it equals the last one written. After a failed
    // write (a closed pipe, a full disk) the output is closed and error says why; returns false then.
    bool Write(const std::uint8_t* picture, std::string* error);
    void Close();

  private:
    std::FILE* file_ = nullptr;
    bool is_stdout_ = false;
    bool written_ = false;
    std::array<std::uint8_t, media::kPictureBytes> top_down_{};
};

}  // namespace receiver
