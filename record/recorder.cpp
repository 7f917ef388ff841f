#include "record/recorder.h"

#include <cmath>
#include <filesystem>

#include "platform/storage/storage.h"
#include "record/recorder_encoder.h"

namespace record {
namespace {

std::int64_t Micros(double seconds) {
    return static_cast<std::int64_t>(std::llround(seconds * 1e6));
}

}  // namespace

Recorder::Recorder(const RecorderSettings& settings, ReportCallback report)
    : settings_(settings), report_(std::move(report)) {}

Recorder::~Recorder() {
    Stop();
}

bool Recorder::Start(std::string* error) {
    if (encoder_) return true;
    if (!CheckRecorderSettings(settings_, error)) return false;
    namespace fs = std::filesystem;
    std::error_code code;
    fs::create_directories(settings_.folder, code);
    if (!fs::is_directory(settings_.folder, code)) {
        *error = "cannot use " + settings_.folder +
                 " for recordings: " + (code ? code.message() : std::string("it is not a folder"));
        return false;
    }
    auto entries = ReadFolderIndex(settings_.folder);
    std::string problem;
    if (!WriteFolderIndex(settings_.folder, entries, &problem)) {
        const auto free = platform::FreeBytes(settings_.folder, error);
        if (!free || *free >= settings_.min_free_bytes) {
            *error = problem;
            return false;
        }
    }
    queue_ = std::make_unique<RecordingQueue>(
        QueueSettings{settings_.fps, Micros(settings_.pre_capture_seconds),
                      Micros(settings_.post_capture_seconds), 1000000, settings_.with_sound});
    encoder_ = std::make_unique<Encoder>(settings_, *queue_, report_, std::move(entries));
    encoder_->Run(problem);
    return true;
}

void Recorder::Stop() {
    encoder_.reset();
}

void Recorder::AddPicture(const std::uint8_t* bgr_bottom_up, std::int64_t capture_micros) {
    if (encoder_) queue_->AddPicture(bgr_bottom_up, capture_micros);
}

void Recorder::AddSound(std::span<const std::int16_t, kSoundBlockSamples> samples, std::int64_t end_micros) {
    if (encoder_) queue_->AddSound(samples, end_micros);
}

void Recorder::EventStarted(const std::string& id, std::int64_t start_micros) {
    if (encoder_) queue_->StartEvent(id, start_micros);
}

void Recorder::EventEnded(const std::string& id, std::int64_t end_micros) {
    if (encoder_) queue_->EndEvent(id, end_micros);
}

void Recorder::SetThumbnail(const std::string& event_id, std::vector<std::uint8_t> jpeg) {
    if (encoder_) encoder_->AddThumbnail(event_id, std::move(jpeg));
}

RecorderStatus Recorder::Status() const {
    return encoder_ ? encoder_->Status() : RecorderStatus{};
}

std::vector<IndexEntry> Recorder::Recordings() const {
    return encoder_ ? encoder_->Recordings() : std::vector<IndexEntry>{};
}

std::string Recorder::VideoOfEvent(const std::string& event_id) const {
    return encoder_ ? encoder_->VideoOfEvent(event_id) : std::string{};
}

bool Recorder::DeleteRecording(const std::string& video, std::string* error) {
    if (!encoder_) {
        *error = "recording is off";
        return false;
    }
    return encoder_->DeleteRecording(video, error);
}

}  // namespace record
