#include "server/server.h"

#include <algorithm>

#include "platform/wave/mci.h"

namespace tessaly {

Server::Server() : pacing([this](int slot) { AnswerWithFrame(slot); }), web_link(MakeWebLink(*this)) {
    AddConsumers();
}

// Where every captured picture and sound block goes, in this order. A new use of either is added here.
void Server::AddConsumers() {
    pictures.Add([this](const CapturedPicture& picture) { web_link->TakePicture(picture); });
    pictures.Add([this](const CapturedPicture& picture) { CompressForReceivers(picture); });
    sounds.Add([this](const CapturedSound& sound) { web_link->TakeSound(sound); });
    sounds.Add([this](const CapturedSound& sound) { SendSoundToReceivers(sound); });
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
