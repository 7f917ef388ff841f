#include "web/picture_exchange.h"

#include <algorithm>
#include <chrono>

#include "media/picture_file.h"
#include "platform/capture/timestamp.h"

namespace web {

namespace {

constexpr std::int64_t kRateWindowMicros = 2'000'000;

}  // namespace

PictureExchange::PictureExchange(int jpeg_quality)
    : jpeg_(JpegEncoder::MaxJpegBytes()), encoder_(jpeg_quality), encode_out_(JpegEncoder::MaxJpegBytes()) {
    server_codec_.敷居 = codec::kServerThreshold;
    receiver_codec_.敷居 = codec::kReceiverThreshold;
}

void PictureExchange::Offer(const std::uint8_t* bottom_up_bgr, std::int64_t capture_micros) {
    {
        std::lock_guard lock(mutex_);
        std::copy_n(bottom_up_bgr, newest_.size(), newest_.begin());
        ++newest_sequence_;
        capture_times_[newest_sequence_ % kRateSamples] = capture_micros;
    }
    newer_.notify_all();
}

std::uint64_t PictureExchange::WaitNewer(std::uint64_t seen, int wait_ms) {
    std::unique_lock lock(mutex_);
    newer_.wait_for(lock, std::chrono::milliseconds(wait_ms),
                    [&] { return closed_ || newest_sequence_ > seen; });
    return closed_ ? 0 : newest_sequence_;
}

bool PictureExchange::CopyNewestPicture(Picture& into, std::uint64_t* sequence) const {
    std::lock_guard lock(mutex_);
    if (newest_sequence_ == 0) return false;
    into = newest_;
    *sequence = newest_sequence_;
    return true;
}

std::size_t PictureExchange::CopyNewestJpeg(std::span<std::uint8_t> out, std::uint64_t* sequence) {
    {
        std::lock_guard encoding(encode_mutex_);
        bool stale = false;
        std::uint64_t source_sequence = 0;
        {
            std::lock_guard lock(mutex_);
            stale = newest_sequence_ != 0 && jpeg_sequence_ != newest_sequence_;
        }
        if (stale && CopyNewestPicture(encode_source_, &source_sequence)) {
            const std::size_t size = encoder_.Encode(encode_source_.data(), encode_out_);
            std::lock_guard lock(mutex_);
            ++jpeg_encodes_;
            if (size > 0) {
                jpeg_.swap(encode_out_);
                jpeg_size_ = size;
                jpeg_sequence_ = source_sequence;
            }
        }
    }
    std::lock_guard lock(mutex_);
    if (jpeg_size_ == 0 || out.size() < jpeg_size_) return 0;
    std::copy_n(jpeg_.begin(), jpeg_size_, out.begin());
    *sequence = jpeg_sequence_;
    return jpeg_size_;
}

std::vector<std::uint8_t> PictureExchange::NewestSnapshotBmp() {
    std::lock_guard lock(snapshot_mutex_);
    std::uint64_t sequence = 0;
    if (!CopyNewestPicture(snapshot_source_, &sequence)) return {};
    if (server_codec_.EncodeDCTPress(snapshot_source_, snapshot_frame_) != 0) return {};
    const auto frame = std::span<const std::uint8_t>(snapshot_frame_)
                           .first(static_cast<std::size_t>(server_codec_.SendDataSize));
    // The byte behind the picture stays 0, as in a receiver's picture buffer.
    snapshot_picture_.fill(0);
    if (receiver_codec_.DecodeDCTPress(frame, snapshot_picture_) != 0) return {};
    return picture_file::SnapshotBmp(snapshot_picture_);
}

double PictureExchange::CaptureRate() const {
    std::lock_guard lock(mutex_);
    const std::int64_t now = platform::MonotonicMicros();
    const std::uint64_t available = std::min<std::uint64_t>(newest_sequence_, kRateSamples);
    std::int64_t oldest = 0;
    int intervals = 0;
    for (std::uint64_t back = 1; back < available; ++back) {
        const std::int64_t t = capture_times_[(newest_sequence_ - back) % kRateSamples];
        if (now - t > kRateWindowMicros) break;
        oldest = t;
        ++intervals;
    }
    const std::int64_t newest = capture_times_[newest_sequence_ % kRateSamples];
    if (intervals == 0 || newest <= oldest || now - newest > kRateWindowMicros) return 0;
    return intervals * 1e6 / static_cast<double>(newest - oldest);
}

std::uint64_t PictureExchange::JpegEncodes() const {
    std::lock_guard lock(mutex_);
    return jpeg_encodes_;
}

void PictureExchange::Close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    newer_.notify_all();
}

}  // namespace web
