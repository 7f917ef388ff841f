#include "receiver/frame_stats.h"

#include <algorithm>
#include <vector>

#include "platform/capture/timestamp.h"

namespace receiver {

void FrameStats::FramePainted(const std::uint8_t* picture, std::int64_t now_micros) {
    ++frames_;
    const std::optional<std::int64_t> stamp = platform::ReadTimeStamp(picture);
    if (!stamp || *stamp == last_stamp_) return;
    last_stamp_ = *stamp;
    const std::int64_t age = platform::StampAgeMicros(*stamp, now_micros);
    last_latency_ = age;
    latencies_[static_cast<std::size_t>(stamped_ % kWindow)] = age;
    ++stamped_;
}

FrameStats::Latency FrameStats::Summary() const {
    Latency out;
    out.samples = std::min<long>(stamped_, kWindow);
    if (out.samples == 0) return out;
    std::vector<std::int64_t> sorted(latencies_.begin(), latencies_.begin() + out.samples);
    std::sort(sorted.begin(), sorted.end());
    const auto at = [&](double q) {
        const auto i = static_cast<std::size_t>(q * static_cast<double>(sorted.size() - 1) + 0.5);
        return static_cast<double>(sorted[i]) / 1000.0;
    };
    out.median_ms = at(0.5);
    out.p99_ms = at(0.99);
    return out;
}

}  // namespace receiver
