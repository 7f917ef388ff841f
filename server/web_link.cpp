#include "server/web_link.h"

#include <cstdio>
#include <memory>

#include "net/CSock.h"
#include "server/admission.h"
#include "server/server_module.h"
#include "server/window_proc.h"
#include "web/web_face.h"

namespace tessaly {

namespace {

class ServerSide : public web::ServerHooks {
  public:
    web::ServerState State() override {
        web::ServerState state;
        state.address = HaveInstances() ? Sock().SERVER : "";
        state.security_mode = SecurityMode();
        state.max_receivers = MaxClient;
        for (int slot = 1; slot <= MaxClient; ++slot) {
            const ClientInfo& c = Clients[slot];
            if (c.fUse == platform::kFalse) continue;
            state.receivers.push_back({slot, CSock::AdToIP(static_cast<std::int32_t>(c.Addr.sin_addr.s_addr)),
                                       TickCount - c.LastTick});
        }
        return state;
    }
    bool SoundAlarm() override { return tessaly::SoundAlarm(); }
    void WantSound() override { StartSound(); }
    void Refused(std::int32_t address) override { Admitted(address); }  // reports the refusal
};

struct Link {
    ServerSide side;
    web::WebFace face{side};
    int reported_pictures = 0;
    int reported_sound = 0;
};

std::unique_ptr<Link>& TheLink() {
    static std::unique_ptr<Link> link;
    return link;
}

void PrintLine(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

}  // namespace

void StartWebFace(const web::Settings& settings, const AllowList& allow, const std::string& address) {
    if (settings.port == 0 || TheLink()) return;
    auto link = std::make_unique<Link>();
    web::Settings chosen = settings;
    chosen.bind_address = address;
    if (!allow.AllowsAnyone()) chosen.allows = [allow](std::int32_t peer) { return allow.Allows(peer); };
    std::string error;
    if (!link->face.Start(chosen, &error)) {
        std::fprintf(stderr, "tessaly: no web page: %s\n", error.c_str());
        return;
    }
    PrintLine("web: " + link->face.PageAddress());
    TheLink() = std::move(link);
}

void StopWebFace() {
    TheLink().reset();
}

void OfferPictureToWeb(const std::uint8_t* bottom_up_bgr, std::int64_t capture_micros) {
    if (TheLink()) TheLink()->face.OfferPicture(bottom_up_bgr, capture_micros);
}

void OfferSoundToWeb(std::span<const std::uint8_t, 1600> block) {
    if (TheLink()) TheLink()->face.OfferSoundBlock(block);
}

bool WebWantsSound() {
    return TheLink() && TheLink()->face.SoundListeners() > 0;
}

void ReportWebViewers() {
    Link* link = TheLink().get();
    if (link == nullptr) return;
    const int pictures = link->face.PictureViewers();
    const int sound = link->face.SoundListeners();
    if (pictures == link->reported_pictures && sound == link->reported_sound) return;
    link->reported_pictures = pictures;
    link->reported_sound = sound;
    PrintLine("web viewers: " + std::to_string(pictures + sound) + " (pictures " + std::to_string(pictures) +
              ", sound " + std::to_string(sound) + ")");
}

}  // namespace tessaly
