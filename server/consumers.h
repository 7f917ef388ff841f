// The one place where the server hands out what it captures. Every picture (the BGR picture and its capture
// time) and every 0.2 s sound block go to each consumer in the order the consumers were added. The server
// adds its own when it is made (Server::AddConsumers in server.cpp): the web face, then the compression
// for the receivers; the sound blocks go to the web face, then to the receivers. A new use of the pictures or
// the sound is one more consumer there. Consumers run on the window thread and must not keep the spans.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <utility>
#include <vector>

#include "media/picture_geometry.h"

namespace tessaly {

inline constexpr std::size_t kPictureBytes = media::kPictureRowBytes * media::kPictureHeight;
inline constexpr std::size_t kSoundBlockBytes = 1600;  // 0.2 s of compressed 8 kHz samples

// One captured picture: 320 x 240, blue, green, red, rows bottom-up.
struct CapturedPicture {
    std::span<const std::uint8_t, kPictureBytes> bottom_up_bgr;
    std::int64_t capture_micros = 0;  // platform::MonotonicMicros() when it was taken
};

// One block from the sound input, compressed as it goes to the receivers.
struct CapturedSound {
    std::span<const std::uint8_t, kSoundBlockBytes> block;
    std::int64_t capture_micros = 0;  // platform::MonotonicMicros() when the block was complete
};

template <typename Item>
class FanOut {
  public:
    using Consumer = std::function<void(const Item&)>;

    // Consumers are added while the server is set up, never while items are handed out.
    void Add(Consumer consumer) { consumers_.push_back(std::move(consumer)); }
    void Hand(const Item& item) const {
        for (const Consumer& consumer : consumers_) consumer(item);
    }

  private:
    std::vector<Consumer> consumers_;
};

using PictureConsumers = FanOut<CapturedPicture>;
using SoundConsumers = FanOut<CapturedSound>;

}  // namespace tessaly
