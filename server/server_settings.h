// What the command line chooses for the server: the picture source, the addresses and ports it listens on,
// who may connect, how frame requests are answered, the web face and the watching by itself.
#pragma once

#include <cstdint>
#include <string>

#include "server/allow_list.h"
#include "server/watch_settings.h"
#include "web/web_settings.h"

namespace tessaly {

struct ServerSettings {
    std::string capture = "auto";
    double fps = 15;
    std::string bind;                 // empty: the machine's own address
    std::uint16_t video_port = 8001;  // 0: a free port that the system chooses (as for sound_port)
    std::uint16_t sound_port = 8002;
    AllowList allow;               // who may connect; the default serves this machine and private networks
    bool resend_frames = false;    // answer every frame request at once, even with a picture already sent
    web::Settings web;             // the web face; its port 0 leaves it off unless web_on_any_port
    bool web_on_any_port = false;  // the web face on a free port that the system chooses
    std::string port_file;         // where the ports are written once listening (port_file.h); empty: nowhere
    WatchSettings watch;           // motion detection, events, hooks and recording: off by default
};

}  // namespace tessaly
