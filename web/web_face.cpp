#include "web/web_face.h"

#include <cstdio>

#include "platform/winsock/plain_listener.h"
#include "web/http_server.h"
#include "web/web_context.h"

namespace web {

struct WebFace::Live {
    Live(const Settings& settings, ServerHooks& hooks)
        : context(settings, hooks, winsock::MachineHostName()), server(context) {}
    WebContext context;
    HttpServer server;
};

WebFace::WebFace(ServerHooks& hooks) : hooks_(hooks) {}

WebFace::~WebFace() {
    Stop();
}

bool WebFace::Start(const Settings& settings, std::string* error) {
    if (live_) return true;
    auto live = std::make_unique<Live>(settings, hooks_);
    if (!live->server.Start(error)) return false;
    live_ = std::move(live);
    NoteStart(settings);
    return true;
}

void ServerHooks::Note(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

void WebFace::NoteStart(const Settings& settings) {
    const Credentials& c = settings.credentials;
    if (!settings.tls.Empty()) {
        if (settings.tls_made_now) hooks_.Note("web: made a new self-signed certificate");
        hooks_.Note("web: certificate SHA-256 " + settings.tls.fingerprint);
    } else if (!c.Empty()) {
        hooks_.Note(
            "web: warning: the password goes over plain HTTP, readable on the network "
            "(turn TLS on with --https-cert and --https-key, or --https-self-signed DIR)");
    }
    if (c.others_can_read) {
        hooks_.Note("web: warning: other users can read the password file " + c.file + " (chmod 600 " +
                    c.file + ")");
    }
}

void WebFace::Stop() {
    if (!live_) return;
    WebContext& context = live_->context;
    // Wake every thread that waits for a picture, a sound block or the window thread, then join them.
    context.stopping = true;
    context.pictures.Close();
    context.sound.Close();
    context.events.Close();
    context.bridge.Close();
    live_->server.Stop();
    live_.reset();
}

bool WebFace::Running() const {
    return live_ != nullptr;
}

std::string WebFace::PageAddress() const {
    if (!live_) return {};
    const Settings& s = live_->context.settings;
    return (s.tls.Empty() ? "http://" : "https://") + s.bind_address + ":" + std::to_string(Port()) + "/";
}

std::uint16_t WebFace::Port() const {
    return live_ ? live_->server.Port() : 0;
}

void WebFace::OfferPicture(const std::uint8_t* bottom_up_bgr, std::int64_t capture_micros) {
    if (live_) live_->context.pictures.Offer(bottom_up_bgr, capture_micros);
}

void WebFace::OfferSoundBlock(std::span<const std::uint8_t, 1600> block) {
    if (live_) live_->context.sound.Offer(block);
}

void WebFace::OfferEvent(std::string_view name, std::string_view json) {
    if (live_) live_->context.events.Offer(name, json);
}

int WebFace::PictureViewers() const {
    return live_ ? live_->context.picture_viewers.load() : 0;
}

int WebFace::SoundListeners() const {
    return live_ ? live_->context.sound_listeners.load() : 0;
}

}  // namespace web
