// What a receiver measures about its frames: how many were shown, and the capture-to-paint latency read
// back from the time stamp that the server's test picture carries (both ends on one machine share the
// monotonic clock). A server answers every request with its latest capture, so one capture may be painted
// several times: the latency is taken at the first painting of each capture, which is the road of that
// picture from camera to screen. Pictures without a stamp (a camera's) count as frames only.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace receiver {

class FrameStats {
  public:
    static constexpr int kWindow = 4096;  // latest latencies kept for the percentiles

    // A frame was painted from picture (320 x 240 BGR, rows bottom-up) at time now_micros.
    void FramePainted(const std::uint8_t* picture, std::int64_t now_micros);

    long Frames() const { return frames_; }
    // Paintings that showed a capture for the first time.
    long StampedFrames() const { return stamped_; }
    std::optional<std::int64_t> LastLatencyMicros() const { return last_latency_; }

    struct Latency {
        double median_ms = 0;
        double p99_ms = 0;
        long samples = 0;
    };
    // Over the latest kWindow stamped frames; samples is 0 when there were none.
    Latency Summary() const;

  private:
    long frames_ = 0;
    long stamped_ = 0;
    std::optional<std::int64_t> last_latency_;
    std::int64_t last_stamp_ = -1;
    std::array<std::int64_t, kWindow> latencies_{};
};

}  // namespace receiver
