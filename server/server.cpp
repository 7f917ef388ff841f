#include "server/server.h"

#include <algorithm>
#include <cstdio>

#include "platform/wave/mci.h"

namespace tessaly {

Server::Server() : pacing([this](int slot) { AnswerWithFrame(slot); }), web_link(MakeWebLink(*this)) {
    AddConsumers();
}

// Where every captured picture and sound block goes, in this order. A new use of either is added here.
void Server::AddConsumers() {
    pictures.Add([this](const CapturedPicture& picture) { web_link->TakePicture(picture); });
    pictures.Add([this](const CapturedPicture& picture) { CompressForReceivers(picture); });
    pictures.Add([this](const CapturedPicture& picture) {
        if (watch) watch->TakePicture(picture);
    });
    sounds.Add([this](const CapturedSound& sound) { web_link->TakeSound(sound); });
    sounds.Add([this](const CapturedSound& sound) { SendSoundToReceivers(sound); });
    sounds.Add([this](const CapturedSound& sound) {
        if (watch) watch->TakeSound(sound);
    });
}

bool Server::StartWatching(const WatchSettings& settings, std::string* error) {
    WatchOutlets outlets;
    // Whole lines with one call each: the recorder's thread prints too.
    outlets.print = [](const std::string& line) {
        std::fputs((line + "\n").c_str(), stdout);
        std::fflush(stdout);
    };
    outlets.alarm = [this] { SoundAlarm(); };
    outlets.event_changed = [this](const WatchedEvent& event, bool ended) {
        web_link->TakeEvent(ended ? "motion-end" : "motion-start", WatchedEventJson(event));
        if (event_observer_) event_observer_(event, ended);
    };
    watch = std::make_unique<Watch>(settings, std::move(outlets));
    if (watch->Start(error)) return true;
    watch.reset();
    return false;
}

std::int16_t Server::FrameCallback(const platform::CaptureFrame& frame) {
    if (Capture.fCapture == platform::kFalse || frame.data == nullptr) return 0;
    const std::size_t n = std::min(frame.length, CapBuf.size());
    std::copy_n(frame.data, n, CapBuf.begin());
    Capture.PaintPreview(CapBuf.data());
    pictures.Hand({CapBuf, frame.capture_micros});
    return 0;
}

void Server::CompressForReceivers(const CapturedPicture& picture) {
    if (fEncode == platform::kFalse) return;
    // A frame the codec refuses leaves the previous one in PressBuf, and no request is answered for it.
    if (Codec.EncodeDCTPress(picture.bottom_up_bgr, PressBuf) == 0) pacing.PictureCompressed();
}

std::uint32_t Server::SoundCommand(std::string_view command) {
    const platform::MCIERROR error = platform::mciSendString(command);
    if (sound_observer_) sound_observer_(command);
    return error;
}

bool Server::SoundAlarm() {
    if (!SecurityMode()) return false;
    SoundCommand("Play danger from 0");
    return true;
}

std::vector<web::EventRow> Server::Events() {
    std::vector<web::EventRow> rows;
    if (!watch) return rows;
    const std::deque<WatchedEvent>& kept = watch->Events();
    for (auto event = kept.rbegin(); event != kept.rend(); ++event) {
        rows.push_back({WatchedEventJson(*event), event->event.start.unix_seconds});
    }
    return rows;
}

std::vector<std::uint8_t> Server::EventThumbnail(const std::string& id) {
    if (!watch) return {};
    for (const WatchedEvent& event : watch->Events()) {
        if (event.event.id == id) return event.thumbnail;
    }
    return {};
}

bool Server::DeleteRecording(const std::string& video, std::string* error) {
    if (watch && watch->Recorder() != nullptr) return watch->Recorder()->DeleteRecording(video, error);
    *error = "this server does not record";
    return false;
}

web::ServerState Server::State() {
    web::ServerState state;
    state.address = Sock.SERVER;
    state.security_mode = SecurityMode();
    state.max_receivers = MaxClient;
    for (int slot = 1; slot <= MaxClient; ++slot) {
        const ClientInfo& c = Clients[slot];
        if (c.fUse == platform::kFalse) continue;
        state.receivers.push_back(
            {slot, CSock::AdToIP(static_cast<std::int32_t>(c.Addr.sin_addr.s_addr)), TickCount - c.LastTick});
    }
    return state;
}

}  // namespace tessaly
