// Hands the sound blocks that the receivers get (1,600 compressed bytes, 0.2 s each) from the window thread
// to the HTTP threads: a ring of the latest blocks with running numbers. A listener that falls more than
// the ring behind jumps to the newest blocks; nothing queues without bound.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>

#include "audio/CWAVE.h"

namespace web {

class SoundExchange {
  public:
    static constexpr int kRingBlocks = 16;  // 3.2 s
    using Block = std::array<std::uint8_t, CWAVE::kBlockSamples>;

    // Window thread: the next block, exactly as it goes to the receivers.
    void Offer(std::span<const std::uint8_t, CWAVE::kBlockSamples> block);

    // The number a new listener starts from: the two latest blocks (0.4 s) go out at once, so that a
    // player's jitter buffer fills without waiting.
    std::uint64_t StartingNumber() const;

    // Waits up to wait_ms for block *number (or, when that one has left the ring, the oldest still in
    // it) and copies it into out. Returns true with *number set to the block copied; false when none came
    // in time or Close was called.
    bool Take(std::uint64_t* number, Block& out, int wait_ms);

    void Close();

  private:
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::array<Block, kRingBlocks> ring_{};
    std::uint64_t newest_ = 0;  // number of the newest block; the first is 1
    bool closed_ = false;
};

// The WAV header of an endless 8,000 Hz, 16-bit, mono stream: both size fields at their maximum.
inline constexpr std::size_t kWavHeaderBytes = 44;
std::array<std::uint8_t, kWavHeaderBytes> EndlessWavHeader();

}  // namespace web
