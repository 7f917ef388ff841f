#include "net/frame_collector.h"

#include <algorithm>

std::span<std::uint8_t> FrameCollector::Room(int bound) {
    bound = std::clamp(bound, 1, kCapacity - 1);
    return std::span<std::uint8_t>(buf_).subspan(static_cast<std::size_t>(std::min(count_, bound)),
                                                 static_cast<std::size_t>(bound - std::min(count_, bound)));
}

FrameCollector::Step FrameCollector::Received(int bytes, int bound) {
    bound = std::clamp(bound, 1, kCapacity - 1);
    count_ = std::min(count_ + std::max(bytes, 0), bound);
    if (count_ >= 2 && buf_[count_ - 2] == 0xFF && buf_[count_ - 1] == 0xFF) {
        message_bytes_ = count_;
        count_ = 0;
        return Step::kComplete;
    }
    if (count_ >= bound) {
        count_ = 0;
        return Step::kOverlong;
    }
    return Step::kMore;
}

std::span<const std::uint8_t> FrameCollector::Message() const {
    return std::span<const std::uint8_t>(buf_).first(static_cast<std::size_t>(message_bytes_));
}
