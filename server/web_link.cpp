#include "server/web_link.h"

#include <cstdio>

#include "web/web_face.h"

namespace tessaly {

namespace {

void PrintLine(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

class WebFaceLink : public WebLink {
  public:
    explicit WebFaceLink(web::ServerHooks& hooks) : face_(hooks) {}

    void Start(const web::Settings& settings, const AllowList& allow, const std::string& address) override {
        if (face_.Running()) return;
        web::Settings chosen = settings;
        chosen.bind_address = address;
        if (!allow.AllowsAnyone()) chosen.allows = [allow](std::int32_t peer) { return allow.Allows(peer); };
        std::string error;
        if (!face_.Start(chosen, &error)) {
            std::fprintf(stderr, "tessaly: no web page: %s\n", error.c_str());
            return;
        }
        PrintLine("web: " + face_.PageAddress());
    }

    void Stop() override {
        face_.Stop();
        reported_pictures_ = 0;
        reported_sound_ = 0;
    }

    std::uint16_t Port() const override { return face_.Port(); }

    void TakePicture(const CapturedPicture& picture) override {
        face_.OfferPicture(picture.bottom_up_bgr.data(), picture.capture_micros);
    }
    void TakeSound(const CapturedSound& sound) override { face_.OfferSoundBlock(sound.block); }
    void TakeEvent(std::string_view name, const std::string& json) override { face_.OfferEvent(name, json); }

    bool WantsSound() const override { return face_.SoundListeners() > 0; }

    void ReportViewers() override {
        if (!face_.Running()) return;
        const int pictures = face_.PictureViewers();
        const int sound = face_.SoundListeners();
        if (pictures == reported_pictures_ && sound == reported_sound_) return;
        reported_pictures_ = pictures;
        reported_sound_ = sound;
        PrintLine("web viewers: " + std::to_string(pictures + sound) + " (pictures " +
                  std::to_string(pictures) + ", sound " + std::to_string(sound) + ")");
    }

  private:
    web::WebFace face_;
    int reported_pictures_ = 0;
    int reported_sound_ = 0;
};

}  // namespace

std::unique_ptr<WebLink> MakeWebLink(web::ServerHooks& hooks) {
    return std::make_unique<WebFaceLink>(hooks);
}

}  // namespace tessaly
