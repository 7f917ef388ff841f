#include "web/sound_exchange.h"

#include <chrono>

namespace web {

void SoundExchange::Offer(std::span<const std::uint8_t, CWAVE::kBlockSamples> block) {
    {
        std::lock_guard lock(mutex_);
        ++newest_;
        std::copy(block.begin(), block.end(), ring_[newest_ % kRingBlocks].begin());
    }
    arrived_.notify_all();
}

std::uint64_t SoundExchange::StartingNumber() const {
    std::lock_guard lock(mutex_);
    return newest_ < 2 ? 1 : newest_ - 1;
}

bool SoundExchange::Take(std::uint64_t* number, Block& out, int wait_ms) {
    std::unique_lock lock(mutex_);
    if (!arrived_.wait_for(lock, std::chrono::milliseconds(wait_ms),
                           [&] { return closed_ || newest_ >= *number; }) ||
        closed_) {
        return false;
    }
    const std::uint64_t oldest_kept = newest_ >= kRingBlocks ? newest_ - kRingBlocks + 1 : 1;
    if (*number < oldest_kept) *number = oldest_kept;
    out = ring_[*number % kRingBlocks];
    return true;
}

void SoundExchange::Close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    arrived_.notify_all();
}

namespace {

void PutLe(std::uint8_t* at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

std::array<std::uint8_t, kWavHeaderBytes> EndlessWavHeader() {
    constexpr std::uint32_t kRate = 8000;
    constexpr std::uint32_t kMaxSize = 0xFFFFFFFF;
    std::array<std::uint8_t, kWavHeaderBytes> h{};
    std::uint8_t* p = h.data();
    std::copy_n("RIFF", 4, p);
    PutLe(p + 4, kMaxSize, 4);
    std::copy_n("WAVEfmt ", 8, p + 8);
    PutLe(p + 16, 16, 4);         // format chunk size
    PutLe(p + 20, 1, 2);          // PCM
    PutLe(p + 22, 1, 2);          // mono
    PutLe(p + 24, kRate, 4);      // samples per second
    PutLe(p + 28, 2 * kRate, 4);  // bytes per second
    PutLe(p + 32, 2, 2);          // bytes per sample frame
    PutLe(p + 34, 16, 2);         // bits per sample
    std::copy_n("data", 4, p + 36);
    PutLe(p + 40, kMaxSize, 4);
    return h;
}

}  // namespace web
