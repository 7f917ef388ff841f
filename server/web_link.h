// Tessaly's side of its web face (web/): started with serving, fed with every captured picture and every
// sound block, and asking the server (web::ServerHooks) for its status, the alarm, the sound capture and the
// report of refused peers. Every function here runs on the window thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "server/allow_list.h"
#include "server/consumers.h"
#include "web/web_settings.h"

namespace web {
class ServerHooks;
}  // namespace web

namespace tessaly {

class WebLink {
  public:
    virtual ~WebLink() = default;

    // Starts the web face on the serving address for the peers that allow admits (settings' port 0: a free
    // port of the system's choosing), and prints its page address (or why it could not start: the server
    // serves its receivers all the same).
    virtual void Start(const web::Settings& settings, const AllowList& allow, const std::string& address) = 0;
    virtual void Stop() = 0;
    // The port of the running web face, 0 when it is not running.
    virtual std::uint16_t Port() const = 0;

    virtual void TakePicture(const CapturedPicture& picture) = 0;
    virtual void TakeSound(const CapturedSound& sound) = 0;
    // A motion event started ("motion-start") or ended ("motion-end"): its JSON goes to the event streams.
    virtual void TakeEvent(std::string_view name, const std::string& json) = 0;

    // Whether a web listener needs the sound capture running.
    virtual bool WantsSound() const = 0;
    // Prints "web viewers: N (pictures P, sound S)" when the numbers changed since the last call.
    virtual void ReportViewers() = 0;
};

// The web face of the server that answers through hooks.
std::unique_ptr<WebLink> MakeWebLink(web::ServerHooks& hooks);

}  // namespace tessaly
