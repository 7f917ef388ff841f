#include "record/recorder_encoder.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "platform/storage/storage.h"

namespace record {
namespace {

namespace fs = std::filesystem;

constexpr auto kWakeEvery = std::chrono::milliseconds(200);
constexpr auto kRetentionEvery = std::chrono::seconds(60);
constexpr auto kKeepThumbnailFor = std::chrono::seconds(60);
constexpr std::size_t kMaxThumbnails = 16;

std::string Megabytes(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

std::time_t Seconds(std::chrono::system_clock::time_point at) {
    return std::chrono::system_clock::to_time_t(at);
}

}  // namespace

Recorder::Encoder::Encoder(const RecorderSettings& settings, RecordingQueue& queue, ReportCallback& report,
                           std::vector<IndexEntry> entries)
    : settings_(settings), queue_(queue), report_(report), entries_(std::move(entries)) {}

Recorder::Encoder::~Encoder() {
    stop_requested_ = true;
    queue_.WakeEncoder();
    if (thread_.joinable()) thread_.join();
}

void Recorder::Encoder::Run(const std::string& problem) {
    if (!problem.empty()) StopFor(problem);
    next_retention_ = Clock::now();
    thread_ = std::thread([this] { Loop(); });
}

void Recorder::Encoder::Loop() {
    while (!stop_requested_) {
        Step();
        queue_.Wait(kWakeEvery);
    }
    FinishFile();
}

void Recorder::Encoder::Step() {
    const auto now = Clock::now();
    if (stopped_ && now >= retry_at_) TryResume();
    while (!stop_requested_ && TakeFrames()) {
    }
    WriteThumbnails();
    if (now >= next_retention_) {
        next_retention_ = now + kRetentionEvery;
        Retain();
    }
}

bool Recorder::Encoder::TakeFrames() {
    if (!queue_.HasSegment()) return false;
    TakePictures();
    TakeSound();
    if (!queue_.FrontSegmentDrained()) return false;
    FinishFile();
    queue_.PopSegment();
    return true;
}

void Recorder::Encoder::TakePictures() {
    while (!stop_requested_) {
        const PictureSlot* picture = queue_.NextPicture();
        if (picture == nullptr) return;
        if (!writer_.IsOpen() && !stopped_) OpenFile(picture->micros);
        std::string error;
        if (writer_.IsOpen() && !writer_.AddPicture(picture->yuv.data(), picture->micros, &error))
            StopFor(error);
        queue_.DonePicture();
        NoteDrops();
    }
}

void Recorder::Encoder::TakeSound() {
    // Sound waits for the file that its segment's first picture opens; while stopped it is let go.
    const bool let_go = stopped_ || queue_.FrontClosed();
    while (const SoundSlot* sound = queue_.NextSound()) {
        if (!writer_.IsOpen() && !let_go) return;
        std::string error;
        if (writer_.IsOpen() && !writer_.AddSound(sound->samples, sound->first_micros, &error))
            StopFor(error);
        queue_.DoneSound();
    }
}

void Recorder::Encoder::OpenFile(std::int64_t first_micros) {
    Retain();
    std::string error;
    const auto free = platform::FreeBytes(settings_.folder, &error);
    if (!free) return StopFor(error);
    if (*free < settings_.min_free_bytes) {
        return StopFor("only " + Megabytes(*free) + " free in " + settings_.folder + " (it needs " +
                       Megabytes(settings_.min_free_bytes) + ")");
    }
    const auto since_capture = std::chrono::microseconds(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count() -
        first_micros);
    file_zero_wall_ = std::chrono::system_clock::now() - since_capture;
    const fs::path folder(settings_.folder);
    const std::string name = RecordingName(Seconds(file_zero_wall_), [&folder](const std::string& n) {
        std::error_code code;
        return fs::exists(fs::symlink_status(folder / (n + ".mp4"), code)) ||
               fs::exists(fs::symlink_status(folder / (n + ".jpg"), code));
    });
    const std::string path = (folder / (name + ".mp4")).string();
    if (!writer_.Open(path, ClipFormat{settings_.fps, settings_.with_sound}, first_micros, &error))
        return StopFor(error);
    file_ = name + ".mp4";
    drops_at_file_start_ = queue_.DroppedPictures();
    drops_reported_ = false;
    {
        std::lock_guard lock(mutex_);
        entries_.push_back(
            IndexEntry{file_, IsoLocalTime(Seconds(file_zero_wall_)), "", 0, queue_.FrontEvents()});
        status_.state = RecorderState::kRecording;
        status_.file = file_;
    }
    WriteIndex();
    Report("recording " + path);
}

void Recorder::Encoder::UpdateEntry(bool finished) {
    std::lock_guard lock(mutex_);
    auto entry =
        std::find_if(entries_.begin(), entries_.end(), [this](const auto& e) { return e.file == file_; });
    if (entry == entries_.end()) return;
    entry->bytes = writer_.BytesWritten();
    entry->events = queue_.FrontEvents();
    if (finished) {
        const auto end = file_zero_wall_ + std::chrono::microseconds(writer_.WrittenMicros());
        entry->end = IsoLocalTime(Seconds(end));
    }
}

void Recorder::Encoder::FinishFile() {
    if (!writer_.IsOpen()) return;
    std::string error;
    const bool ok = writer_.Close(&error);
    UpdateEntry(true);
    {
        std::lock_guard lock(mutex_);
        ++status_.files_written;
        if (!stopped_) status_.state = RecorderState::kIdle;
    }
    WriteIndex();
    if (!ok) return StopFor(error);
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f s", static_cast<double>(writer_.WrittenMicros()) / 1e6);
    Report("recorded " + file_ + " (" + seconds + ", " + Megabytes(writer_.BytesWritten()) + ")");
    Retain();
}

void Recorder::Encoder::StopFor(const std::string& reason) {
    if (writer_.IsOpen()) {
        std::string ignored;
        writer_.Close(&ignored);  // what reached the file before the failure stays playable
        UpdateEntry(true);
    }
    stopped_ = true;
    retry_at_ = Clock::now() + std::chrono::milliseconds(settings_.retry_ms);
    const std::string line = "recording stopped: " + reason + "; trying again every " +
                             std::to_string((settings_.retry_ms + 999) / 1000) + " s";
    {
        std::lock_guard lock(mutex_);
        status_.state = RecorderState::kStopped;
        status_.problem = line;
    }
    Report(line);
}

void Recorder::Encoder::TryResume() {
    std::string error;
    const auto free = platform::FreeBytes(settings_.folder, &error);
    if (!free || *free < settings_.min_free_bytes) {
        retry_at_ = Clock::now() + std::chrono::milliseconds(settings_.retry_ms);
        return;
    }
    stopped_ = false;
    {
        std::lock_guard lock(mutex_);
        status_.state = RecorderState::kIdle;
        status_.problem.clear();
    }
    Report("recording resumed: " + settings_.folder + " has room again");
}

void Recorder::Encoder::NoteDrops() {
    const std::uint64_t dropped = queue_.DroppedPictures();
    if (drops_reported_ || dropped == drops_at_file_start_) return;
    drops_reported_ = true;
    Report("recording: the encoder falls behind and leaves pictures out of " + file_ + " (" +
           std::to_string(dropped) + " so far)");
}

void Recorder::Encoder::Retain() {
    if (settings_.retention.max_bytes == 0 && settings_.retention.max_days == 0) return;
    std::string error;
    std::vector<std::string> deleted;
    {
        std::lock_guard folder_lock(folder_mutex_);
        deleted =
            ApplyRetention(settings_.folder, settings_.retention, writer_.IsOpen() ? file_ : "", &error);
        std::lock_guard lock(mutex_);
        std::erase_if(entries_, [&deleted](const IndexEntry& e) {
            return std::find(deleted.begin(), deleted.end(), e.file) != deleted.end();
        });
    }
    if (!error.empty() && !retention_failure_reported_) {
        retention_failure_reported_ = true;
        Report("recording: " + error);
    }
    if (!deleted.empty()) WriteIndex();
}

bool Recorder::Encoder::DeleteRecording(const std::string& video, std::string* error) {
    std::lock_guard folder_lock(folder_mutex_);
    {
        std::lock_guard lock(mutex_);
        if (status_.state == RecorderState::kRecording && status_.file == video) {
            *error = video + " is being recorded";
            return false;
        }
    }
    if (!record::DeleteRecording(settings_.folder, video, error)) return false;
    {
        std::lock_guard lock(mutex_);
        std::erase_if(entries_, [&video](const IndexEntry& e) { return e.file == video; });
    }
    std::string ignored;  // the encoder thread writes the index again with its next file
    WriteIndexLocked(&ignored);
    return true;
}

void Recorder::Encoder::WriteIndex() {
    std::string error;
    std::lock_guard folder_lock(folder_mutex_);
    if (WriteIndexLocked(&error)) {
        index_failure_reported_ = false;
    } else if (!index_failure_reported_ && !stopped_) {
        index_failure_reported_ = true;
        Report("recording: " + error);
    }
}

bool Recorder::Encoder::WriteIndexLocked(std::string* error) {
    std::vector<IndexEntry> entries;
    {
        std::lock_guard lock(mutex_);
        entries = entries_;
    }
    return WriteFolderIndex(settings_.folder, entries, error);
}

void Recorder::Encoder::AddThumbnail(const std::string& event_id, std::vector<std::uint8_t> jpeg) {
    std::lock_guard lock(mutex_);
    if (thumbnails_.size() == kMaxThumbnails) thumbnails_.erase(thumbnails_.begin());
    thumbnails_.push_back(Thumbnail{event_id, std::move(jpeg), Clock::now() + kKeepThumbnailFor});
}

void Recorder::Encoder::WriteThumbnails() {
    std::vector<Thumbnail> waiting;
    {
        std::lock_guard lock(mutex_);
        waiting.swap(thumbnails_);
    }
    std::vector<Thumbnail> keep;
    for (auto& thumbnail : waiting) {
        const std::string video = VideoOfEvent(thumbnail.event_id);
        if (video.empty()) {
            if (Clock::now() < thumbnail.give_up) keep.push_back(std::move(thumbnail));
            continue;
        }
        const std::string path =
            (fs::path(settings_.folder) / (video.substr(0, video.size() - 4) + ".jpg")).string();
        std::string error;
        const std::string bytes(thumbnail.jpeg.begin(), thumbnail.jpeg.end());
        if (!stopped_ && !platform::ReplaceFile(path, bytes, &error)) Report("recording: " + error);
    }
    std::lock_guard lock(mutex_);
    for (auto& thumbnail : keep) thumbnails_.push_back(std::move(thumbnail));
}

void Recorder::Encoder::Report(const std::string& line) const {
    if (report_) report_(line);
}

RecorderStatus Recorder::Encoder::Status() const {
    std::lock_guard lock(mutex_);
    RecorderStatus status = status_;
    status.dropped_pictures = queue_.DroppedPictures();
    return status;
}

std::vector<IndexEntry> Recorder::Encoder::Recordings() const {
    std::lock_guard lock(mutex_);
    return entries_;
}

std::string Recorder::Encoder::VideoOfEvent(const std::string& event_id) const {
    std::lock_guard lock(mutex_);
    for (auto e = entries_.rbegin(); e != entries_.rend(); ++e) {
        if (std::find(e->events.begin(), e->events.end(), event_id) != e->events.end()) return e->file;
    }
    return "";
}

}  // namespace record
