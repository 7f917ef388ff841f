// Hands the captured pictures from the window thread to the HTTP threads. The window thread copies each
// picture once, into a buffer that nobody reads, and swaps it in under the lock (the newest wins: there
// is one picture slot, never a queue). The HTTP threads wait for a newer one, and the first of them that
// needs it as JPEG encodes it, once, into an immutable buffer that every viewer shares. Encoding happens
// only when someone asks for a JPEG, so nobody watching costs nothing but the copy.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "codec/CCODEC.h"
#include "platform/capture/capture.h"
#include "web/jpeg_encoder.h"

namespace web {

// An encoded picture that viewers share; it never changes once handed out.
struct SharedJpeg {
    std::vector<std::uint8_t> bytes;  // sized once for the largest JPEG
    std::size_t size = 0;
    std::uint64_t sequence = 0;
    std::span<const std::uint8_t> Bytes() const { return std::span(bytes).first(size); }
};

class PictureExchange {
  public:
    explicit PictureExchange(int jpeg_quality);

    // Window thread: the newest captured picture (230,400 bytes, rows bottom-up) and its capture time.
    void Offer(const std::uint8_t* bottom_up_bgr, std::int64_t capture_micros);

    // Waits up to wait_ms for a picture newer than `seen`. Returns the newest picture's number (0 while
    // there is none yet), or 0 once Close was called.
    std::uint64_t WaitNewer(std::uint64_t seen, int wait_ms);

    // The JPEG of the newest picture, encoding it first when nobody has yet; empty when there is no picture.
    std::shared_ptr<const SharedJpeg> NewestJpeg();

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

    std::shared_ptr<const Picture> NewestPicture(std::uint64_t* sequence) const;

    mutable std::mutex mutex_;
    std::condition_variable newer_;
    std::shared_ptr<Picture> newest_;  // read by the encoders outside the lock while they hold it
    std::shared_ptr<Picture> back_;    // the window thread's: the next picture is copied in here
    std::uint64_t newest_sequence_ = 0;
    std::shared_ptr<const SharedJpeg> jpeg_;  // the JPEG of the newest picture that was asked for
    std::uint64_t jpeg_encodes_ = 0;
    std::array<std::int64_t, kRateSamples> capture_times_{};
    bool closed_ = false;

    // One encode at a time, outside mutex_ so that Offer never waits for it. The buffer of the JPEG before
    // last is used again once no viewer holds it.
    std::mutex encode_mutex_;
    JpegEncoder encoder_;
    std::shared_ptr<SharedJpeg> spare_jpeg_;

    // The snapshot: the server's compression and a receiver's decoding.
    std::mutex snapshot_mutex_;
    CCODEC server_codec_;
    CCODEC receiver_codec_;
    std::array<std::uint8_t, 15001 + 2> snapshot_frame_{};
    std::array<std::uint8_t, platform::kCaptureFrameBytes + 1> snapshot_picture_{};
};

}  // namespace web
