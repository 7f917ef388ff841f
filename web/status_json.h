// /status.json: what the page shows, for scripts and dashboards. For example
//   {"address":"127.0.0.1","security_mode":true,"max_receivers":10,
//    "receivers":[{"slot":1,"address":"127.0.0.1","ticks":0}],
//    "web":{"picture_viewers":1,"sound_listeners":0,"max_viewers":20},
//    "capture_fps":15.0,"jpeg_encodes":1234,"clock_us":123456789}
// clock_us is the server's monotonic clock when the answer was made, the clock of the test picture's time
// stamp, so that a page can tell how old a picture is.
#pragma once

#include <cstdint>
#include <string>

#include "web/web_face.h"

namespace web {

struct WebFigures {
    int picture_viewers = 0;
    int sound_listeners = 0;
    int max_viewers = 0;
    double capture_fps = 0;
    std::uint64_t jpeg_encodes = 0;
    std::int64_t clock_us = 0;
};

std::string StatusJson(const ServerState& state, const WebFigures& figures);

// A JSON string literal of text (UTF-8 kept as it is; quotes, backslashes and control characters escaped).
std::string JsonString(const std::string& text);

}  // namespace web
