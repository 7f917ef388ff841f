// Hands the captured pictures from the window thread to the HTTP threads. The window thread only copies
// each picture in (the newest wins: there is one picture slot, never a queue); the HTTP threads wait for a
// newer one, and the first of them that needs it as JPEG encodes it, once, for every viewer. Encoding
// happens only when someone asks for a JPEG, so nobody watching costs nothing but the copy.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

#include "codec/CCODEC.h"
#include "platform/capture.h"
#include "web/jpeg_encoder.h"

namespace web {

class PictureExchange {
  public:
    explicit PictureExchange(int jpeg_quality);

    // Window thread: the newest captured picture (230,400 bytes, rows bottom-up) and its capture time.
    void Offer(const std::uint8_t* bottom_up_bgr, std::int64_t capture_micros);

    // Waits up to wait_ms for a picture newer than `seen`. Returns the newest picture's number (0 while
    // there is none yet), or 0 once Close was called.
    std::uint64_t WaitNewer(std::uint64_t seen, int wait_ms);

    // Copies the JPEG of the newest picture into out (JpegEncoder::MaxJpegBytes() bytes), encoding it
    // first when nobody has yet. Returns its length (0 when there is no picture) and sets *sequence.
    std::size_t CopyNewestJpeg(std::span<std::uint8_t> out, std::uint64_t* sequence);

    // The newest picture as a receiver's snapshot file would hold it: compressed as the server compresses
    // it, decoded as a receiver decodes it, in the receivers' bitmap layout. Empty when there is no picture.
    std::vector<std::uint8_t> NewestSnapshotBmp();

    // Pictures per second over the last two seconds of capture times.
    double CaptureRate() const;
    std::uint64_t JpegEncodes() const;

    // Wakes every waiter for good (the web face is stopping).
    void Close();

  private:
    using Picture = std::array<std::uint8_t, platform::kCaptureFrameBytes>;
    static constexpr int kRateSamples = 32;

    bool CopyNewestPicture(Picture& into, std::uint64_t* sequence) const;

    mutable std::mutex mutex_;
    std::condition_variable newer_;
    Picture newest_{};
    std::uint64_t newest_sequence_ = 0;
    std::vector<std::uint8_t> jpeg_;  // the JPEG of picture jpeg_sequence_
    std::size_t jpeg_size_ = 0;
    std::uint64_t jpeg_sequence_ = 0;
    std::uint64_t jpeg_encodes_ = 0;
    std::array<std::int64_t, kRateSamples> capture_times_{};
    bool closed_ = false;

    // One encode at a time, in its own buffers, outside mutex_ so that Offer never waits for it.
    std::mutex encode_mutex_;
    JpegEncoder encoder_;
    Picture encode_source_{};
    std::vector<std::uint8_t> encode_out_;

    // The snapshot: the server's compression (threshold 10) and a receiver's decoding (threshold 15).
    std::mutex snapshot_mutex_;
    CCODEC server_codec_;
    CCODEC receiver_codec_;
    Picture snapshot_source_{};
    std::array<std::uint8_t, 15001 + 2> snapshot_frame_{};
    std::array<std::uint8_t, platform::kCaptureFrameBytes + 1> snapshot_picture_{};
};

}  // namespace web
