#include "record/recording_queue.h"

#include <algorithm>
#include <cmath>

#include "record/picture_yuv.h"

namespace record {
namespace {

constexpr std::int64_t kSoundStallMicros = 1000000;

std::size_t SlotsFor(std::int64_t micros, double per_second) {
    return static_cast<std::size_t>(std::ceil(static_cast<double>(micros) / 1e6 * per_second)) + 2;
}

// Whether slot sequence seq may be written when the oldest slot still needed is needed_from.
bool HasRoom(std::uint64_t seq, std::uint64_t needed_from, std::size_t capacity) {
    return needed_from == RecordingQueue::kOpenEnd || seq - needed_from < capacity;
}

}  // namespace

RecordingQueue::RecordingQueue(const QueueSettings& settings)
    : settings_(settings),
      pictures_(SlotsFor(settings.pre_capture_micros + settings.queue_micros, settings.fps)),
      sounds_(settings.with_sound ? SlotsFor(settings.pre_capture_micros + settings.queue_micros, 5) : 1) {
    for (auto& slot : pictures_) slot.yuv.resize(kYuvBytes);
}

void RecordingQueue::AddPicture(const std::uint8_t* bgr_bottom_up, std::int64_t capture_micros) {
    std::uint64_t seq = 0;
    {
        std::lock_guard lock(mutex_);
        seq = pictures_written_;
        if (!HasRoom(seq, PictureNeededFrom(), pictures_.size())) {
            ++dropped_pictures_;
            return;
        }
    }
    // The slot is the feeder's alone: the encoder reads only slots before pictures_written_.
    PictureSlot& slot = pictures_[seq % pictures_.size()];
    BgrToYuv420(bgr_bottom_up, slot.yuv.data());
    slot.micros = capture_micros;
    {
        std::lock_guard lock(mutex_);
        ++pictures_written_;
        newest_picture_micros_ = std::max(newest_picture_micros_, capture_micros);
        CloseIfDue();
        wake_pending_ = true;
    }
    wake_.notify_one();
}

void RecordingQueue::AddSound(std::span<const std::int16_t, kSoundBlockSamples> samples,
                              std::int64_t end_micros) {
    if (!settings_.with_sound) return;
    std::uint64_t seq = 0;
    {
        std::lock_guard lock(mutex_);
        seq = sounds_written_;
        if (!HasRoom(seq, SoundNeededFrom(), sounds_.size())) {
            ++dropped_sounds_;
            return;
        }
    }
    SoundSlot& slot = sounds_[seq % sounds_.size()];
    std::copy(samples.begin(), samples.end(), slot.samples.begin());
    slot.first_micros = end_micros - kSoundBlockMicros;
    {
        std::lock_guard lock(mutex_);
        ++sounds_written_;
        newest_sound_end_micros_ = std::max(newest_sound_end_micros_, end_micros);
        CloseIfDue();
        wake_pending_ = true;
    }
    wake_.notify_one();
}

void RecordingQueue::StartEvent(const std::string& id, std::int64_t start_micros) {
    {
        std::lock_guard lock(mutex_);
        if (count_ == kMaxSegments && !BackIsOpen()) {
            // The encoder is far behind: the newest segment grows again rather than a fifth one starting.
            Segment& back = Back();
            back.end_picture = back.end_sound = kOpenEnd;
            back.closed = false;
        }
        if (BackIsOpen()) {
            Segment& back = Back();
            back.events.push_back(id);
            ++back.active_events;
            back.stop_micros = std::numeric_limits<std::int64_t>::max();
        } else {
            OpenSegment(id, start_micros);
        }
        wake_pending_ = true;
    }
    wake_.notify_one();
}

void RecordingQueue::EndEvent(const std::string& id, std::int64_t end_micros) {
    {
        std::lock_guard lock(mutex_);
        if (!BackIsOpen() || Back().active_events == 0) return;
        Segment& back = Back();
        if (std::find(back.events.begin(), back.events.end(), id) == back.events.end()) return;  // not ours
        if (--back.active_events == 0) back.stop_micros = end_micros + settings_.post_capture_micros;
        CloseIfDue();
        wake_pending_ = true;
    }
    wake_.notify_one();
}

bool RecordingQueue::BackIsOpen() const {
    return count_ > 0 && !segments_[(front_ + count_ - 1) % kMaxSegments].closed;
}

void RecordingQueue::OpenSegment(const std::string& id, std::int64_t start_micros) {
    const std::int64_t from = start_micros - settings_.pre_capture_micros;
    const std::uint64_t picture_cap = pictures_.size(), sound_cap = sounds_.size();
    std::uint64_t first_picture = pictures_written_ > picture_cap ? pictures_written_ - picture_cap : 0;
    std::uint64_t first_sound = sounds_written_ > sound_cap ? sounds_written_ - sound_cap : 0;
    if (count_ > 0) {
        first_picture = std::max(first_picture, Back().end_picture);
        first_sound = std::max(first_sound, Back().end_sound);
    }
    while (first_picture < pictures_written_ && pictures_[first_picture % picture_cap].micros < from)
        ++first_picture;
    while (first_sound < sounds_written_ &&
           sounds_[first_sound % sound_cap].first_micros + kSoundBlockMicros <= from)
        ++first_sound;

    const bool was_empty = count_ == 0;
    ++count_;
    Segment& segment = Back();
    segment = Segment{};
    segment.first_picture = first_picture;
    segment.first_sound = first_sound;
    segment.events.push_back(id);
    segment.active_events = 1;
    if (was_empty) {
        picture_read_ = first_picture;
        sound_read_ = first_sound;
    }
}

void RecordingQueue::CloseIfDue() {
    if (!BackIsOpen()) return;
    Segment& back = Back();
    if (back.active_events > 0 || newest_picture_micros_ <= back.stop_micros) return;
    const bool sound_done = !settings_.with_sound || newest_sound_end_micros_ >= back.stop_micros ||
                            newest_picture_micros_ > back.stop_micros + kSoundStallMicros;
    if (!sound_done) return;
    std::uint64_t end_picture = pictures_written_;
    while (end_picture > back.first_picture &&
           pictures_[(end_picture - 1) % pictures_.size()].micros > back.stop_micros)
        --end_picture;
    std::uint64_t end_sound = sounds_written_;
    while (end_sound > back.first_sound &&
           sounds_[(end_sound - 1) % sounds_.size()].first_micros >= back.stop_micros)
        --end_sound;
    back.end_picture = std::max(end_picture, back.first_picture);
    back.end_sound = std::max(end_sound, back.first_sound);
    back.closed = true;
}

std::uint64_t RecordingQueue::PictureNeededFrom() const {
    return count_ > 0 ? picture_read_ : kOpenEnd;
}

std::uint64_t RecordingQueue::SoundNeededFrom() const {
    return count_ > 0 ? sound_read_ : kOpenEnd;
}

void RecordingQueue::Wait(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, timeout, [this] { return wake_pending_; });
    wake_pending_ = false;
}

void RecordingQueue::WakeEncoder() {
    {
        std::lock_guard lock(mutex_);
        wake_pending_ = true;
    }
    wake_.notify_one();
}

bool RecordingQueue::HasSegment() const {
    std::lock_guard lock(mutex_);
    return count_ > 0;
}

const PictureSlot* RecordingQueue::NextPicture() {
    std::lock_guard lock(mutex_);
    if (count_ == 0 || picture_read_ >= std::min(Front().end_picture, pictures_written_)) return nullptr;
    return &pictures_[picture_read_ % pictures_.size()];
}

void RecordingQueue::DonePicture() {
    std::lock_guard lock(mutex_);
    ++picture_read_;
}

const SoundSlot* RecordingQueue::NextSound() {
    std::lock_guard lock(mutex_);
    if (count_ == 0 || sound_read_ >= std::min(Front().end_sound, sounds_written_)) return nullptr;
    return &sounds_[sound_read_ % sounds_.size()];
}

void RecordingQueue::DoneSound() {
    std::lock_guard lock(mutex_);
    ++sound_read_;
}

std::vector<std::string> RecordingQueue::FrontEvents() const {
    std::lock_guard lock(mutex_);
    return count_ > 0 ? Front().events : std::vector<std::string>{};
}

bool RecordingQueue::FrontClosed() const {
    std::lock_guard lock(mutex_);
    return count_ > 0 && Front().closed;
}

bool RecordingQueue::FrontSegmentDrained() const {
    std::lock_guard lock(mutex_);
    return count_ > 0 && Front().closed && picture_read_ >= Front().end_picture &&
           sound_read_ >= Front().end_sound;
}

void RecordingQueue::PopSegment() {
    std::lock_guard lock(mutex_);
    if (count_ == 0) return;
    front_ = (front_ + 1) % kMaxSegments;
    --count_;
    if (count_ > 0) {
        picture_read_ = std::max(picture_read_, Front().first_picture);
        sound_read_ = std::max(sound_read_, Front().first_sound);
    }
}

std::uint64_t RecordingQueue::DroppedPictures() const {
    std::lock_guard lock(mutex_);
    return dropped_pictures_;
}

std::uint64_t RecordingQueue::DroppedSoundBlocks() const {
    std::lock_guard lock(mutex_);
    return dropped_sounds_;
}

bool RecordingQueue::Recording() const {
    std::lock_guard lock(mutex_);
    return count_ > 0;
}

}  // namespace record
