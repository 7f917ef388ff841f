#include "server/watch.h"

#include <ctime>

#include "media/picture_geometry.h"
#include "platform/capture/timestamp.h"
#include "platform/storage/storage.h"

namespace tessaly {

namespace {

constexpr int kThumbnailQuality = 85;

events::WallTime WallNow() {
    const std::time_t now = std::time(nullptr);
    return {now, static_cast<int>(platform::ToLocalTime(now).utc_offset_seconds / 60)};
}

std::string LocalDate(const events::WallTime& time) {
    return events::CompactTime(time).substr(0, 8);
}

}  // namespace

std::string WatchedEventJson(const WatchedEvent& event) {
    std::optional<std::string> video;
    if (!event.video.empty()) video = "/recordings/" + event.video;
    return events::EventJson(event.event, "/events/" + event.event.id + ".jpg", video);
}

Watch::Watch(const WatchSettings& settings, WatchOutlets outlets)
    : settings_(settings),
      outlets_(std::move(outlets)),
      detector_(settings.detector, settings.mask),
      tracker_(settings.event_gap_seconds),
      hooks_(settings.hooks, [this](const std::string& line) { Print(line); }),
      jpeg_encoder_(kThumbnailQuality),
      thumbnail_picture_(media::kPictureBytes),
      jpeg_(web::JpegEncoder::MaxJpegBytes()) {
    if (settings.record && settings.make_recorder) {
        recorder_ =
            settings.make_recorder(settings.recorder, [this](const std::string& line) { Print(line); });
    }
}

Watch::~Watch() {
    Stop();
}

bool Watch::Start(std::string* error) {
    if (settings_.record && !recorder_) {
        *error = "no recorder was loaded";
        return false;
    }
    return !recorder_ || recorder_->Start(error);
}

void Watch::Stop() {
    const std::int64_t now = platform::MonotonicMicros();
    if (tracker_.Finish({now, WallNow()})) Ended(*tracker_.LastEnded());
    if (recorder_) recorder_->Stop();
}

void Watch::TakePicture(const CapturedPicture& picture) {
    const std::uint8_t* bgr = picture.bottom_up_bgr.data();
    if (recorder_) recorder_->AddPicture(bgr, picture.capture_micros);
    const motion::MotionResult result = detector_.Process(bgr);
    const events::EventChanges changes = tracker_.Update(result, bgr, {picture.capture_micros, WallNow()});
    if (changes.ended) Ended(*tracker_.LastEnded());
    if (changes.started) Started(*tracker_.Running());
    RunStartHook(picture.capture_micros, false);
    hooks_.Poll(picture.capture_micros);
}

void Watch::TakeSound(const CapturedSound& sound) {
    if (!recorder_) return;
    sound_expander_.WaveExpand(sound.block, samples_);
    recorder_->AddSound(samples_, sound.capture_micros);
}

void Watch::Tick(std::int64_t now_micros) {
    if (tracker_.Expire({now_micros, WallNow()})) Ended(*tracker_.LastEnded());
    RunStartHook(now_micros, false);
    hooks_.Poll(now_micros);
}

int Watch::EventsToday() const {
    return LocalDate(WallNow()) == today_ ? today_count_ : 0;
}

const std::deque<WatchedEvent>& Watch::Events() {
    if (recorder_) {
        for (WatchedEvent& kept : kept_) {
            if (kept.video.empty()) kept.video = recorder_->VideoOfEvent(kept.event.id);
        }
    }
    return kept_;
}

void Watch::Started(const events::Event& event) {
    const std::string date = LocalDate(event.start);
    today_count_ = date == today_ ? today_count_ + 1 : 1;
    today_ = date;
    Print("motion: event " + event.id + " started at " + events::IsoTime(event.start));
    WatchedEvent& kept = Keep(event);
    DrawThumbnail(event, &kept);
    if (recorder_) recorder_->EventStarted(event.id, event.start_micros);
    if (settings_.alarm && outlets_.alarm) outlets_.alarm();
    start_hook_event_ = event.id;
    start_hook_due_micros_ = platform::MonotonicMicros() + (recorder_ ? kStartHookWaitMicros : 0);
    RunStartHook(platform::MonotonicMicros(), !recorder_);
    if (outlets_.event_changed) outlets_.event_changed(kept, false);
}

// Runs the waiting start hook once the recorder has named the event's file, its wait is over, or `now`.
void Watch::RunStartHook(std::int64_t now_micros, bool now) {
    if (start_hook_event_.empty() || kept_.empty() || kept_.back().event.id != start_hook_event_) return;
    WatchedEvent& kept = kept_.back();
    if (recorder_ && kept.video.empty()) kept.video = recorder_->VideoOfEvent(kept.event.id);
    if (!now && kept.video.empty() && now_micros < start_hook_due_micros_) return;
    start_hook_event_.clear();
    hooks_.EventStarted(kept.event, FilesOf(kept), platform::MonotonicMicros());
}

void Watch::Ended(const events::Event& event) {
    RunStartHook(platform::MonotonicMicros(), true);  // an event shorter than the wait starts before it ends
    const std::int64_t seconds = event.end ? event.end->unix_seconds - event.start.unix_seconds : 0;
    Print("motion: event " + event.id + " ended after " + std::to_string(seconds) + " s (peak " +
          std::to_string(event.peak) + " pixels)");
    WatchedEvent& kept = Keep(event);
    DrawThumbnail(event, &kept);
    const auto gap_micros = static_cast<std::int64_t>(settings_.event_gap_seconds * 1e6);
    if (recorder_) {
        recorder_->EventEnded(event.id, event.last_motion_micros + gap_micros);
        kept.video = recorder_->VideoOfEvent(event.id);
    }
    hooks_.EventEnded(event, FilesOf(kept), platform::MonotonicMicros());
    if (outlets_.event_changed) outlets_.event_changed(kept, true);
}

// The kept copy of the event, added when it is new; the oldest go beyond kKeptEvents.
WatchedEvent& Watch::Keep(const events::Event& event) {
    if (kept_.empty() || kept_.back().event.id != event.id) {
        if (kept_.size() == kKeptEvents) kept_.pop_front();
        kept_.push_back({});
    }
    kept_.back().event = event;
    return kept_.back();
}

// Draws the peak picture with its box, keeps its JPEG and hands it to the recorder (written beside the video,
// replacing the one written at the start).
void Watch::DrawThumbnail(const events::Event& event, WatchedEvent* kept) {
    if (!tracker_.DrawThumbnail(event, thumbnail_picture_.data())) return;
    const std::size_t size = jpeg_encoder_.Encode(thumbnail_picture_.data(), jpeg_);
    if (size == 0) return;
    kept->thumbnail.assign(jpeg_.begin(), jpeg_.begin() + static_cast<std::ptrdiff_t>(size));
    if (recorder_) recorder_->SetThumbnail(event.id, kept->thumbnail);
}

events::EventFiles Watch::FilesOf(const WatchedEvent& kept) const {
    if (!recorder_ || kept.video.empty()) return {};
    const std::string base = settings_.recorder.folder + "/" + kept.video.substr(0, kept.video.size() - 4);
    return {base + ".mp4", base + ".jpg"};
}

void Watch::Print(const std::string& line) const {
    if (outlets_.print) outlets_.print(line);
}

}  // namespace tessaly
