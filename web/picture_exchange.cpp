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
    : newest_(std::make_shared<Picture>()), back_(std::make_shared<Picture>()), encoder_(jpeg_quality) {
    server_codec_.敷居 = codec::kServerThreshold;
    receiver_codec_.敷居 = codec::kReceiverThreshold;
}

void PictureExchange::Offer(const std::uint8_t* bottom_up_bgr, std::int64_t capture_micros) {
    // An encoder may still read the picture before last: then it keeps that one and a new buffer is made.
    if (back_.use_count() > 1) back_ = std::make_shared<Picture>();
    std::copy_n(bottom_up_bgr, back_->size(), back_->begin());
    {
        std::lock_guard lock(mutex_);
        newest_.swap(back_);
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

std::shared_ptr<const PictureExchange::Picture> PictureExchange::NewestPicture(
    std::uint64_t* sequence) const {
    std::lock_guard lock(mutex_);
    if (newest_sequence_ == 0) return nullptr;
    *sequence = newest_sequence_;
    return newest_;
}

std::shared_ptr<const SharedJpeg> PictureExchange::NewestJpeg() {
    std::lock_guard encoding(encode_mutex_);
    std::uint64_t sequence = 0;
    const std::shared_ptr<const Picture> picture = NewestPicture(&sequence);
    if (!picture) return nullptr;
    {
        std::lock_guard lock(mutex_);
        if (jpeg_ && jpeg_->sequence == sequence) return jpeg_;
    }
    if (!spare_jpeg_ || spare_jpeg_.use_count() > 1) {
        spare_jpeg_ = std::make_shared<SharedJpeg>();
        spare_jpeg_->bytes.resize(JpegEncoder::MaxJpegBytes());
    }
    spare_jpeg_->size = encoder_.Encode(picture->data(), spare_jpeg_->bytes);
    spare_jpeg_->sequence = sequence;
    std::lock_guard lock(mutex_);
    ++jpeg_encodes_;
    if (spare_jpeg_->size == 0) return jpeg_;
    std::shared_ptr<const SharedJpeg> made = std::move(spare_jpeg_);
    spare_jpeg_ = std::const_pointer_cast<SharedJpeg>(jpeg_);  // used again once its viewers let it go
    jpeg_ = made;
    return made;
}

std::vector<std::uint8_t> PictureExchange::NewestSnapshotBmp() {
    std::lock_guard lock(snapshot_mutex_);
    std::uint64_t sequence = 0;
    const std::shared_ptr<const Picture> picture = NewestPicture(&sequence);
    if (!picture) return {};
    if (server_codec_.EncodeDCTPress(*picture, snapshot_frame_) != 0) return {};
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
