#include "web/status_json.h"

#include <cstdio>

namespace web {

namespace {

const char* Bool(bool b) {
    return b ? "true" : "false";
}

}  // namespace

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string StatusJson(const ServerState& state, const WebFigures& figures) {
    std::string json = "{\"address\":" + JsonString(state.address);
    json += ",\"security_mode\":";
    json += Bool(state.security_mode);
    json += ",\"max_receivers\":" + std::to_string(state.max_receivers);
    json += ",\"receivers\":[";
    for (std::size_t i = 0; i < state.receivers.size(); ++i) {
        const ReceiverRow& r = state.receivers[i];
        if (i > 0) json += ',';
        json += "{\"slot\":" + std::to_string(r.slot) + ",\"address\":" + JsonString(r.address) +
                ",\"ticks\":" + std::to_string(r.ticks) + "}";
    }
    char fps[32];
    std::snprintf(fps, sizeof fps, "%.1f", figures.capture_fps);
    json += "],\"web\":{\"picture_viewers\":" + std::to_string(figures.picture_viewers) +
            ",\"sound_listeners\":" + std::to_string(figures.sound_listeners) +
            ",\"max_viewers\":" + std::to_string(figures.max_viewers) + "}";
    json += ",\"capture_fps\":";
    json += fps;
    json += ",\"jpeg_encodes\":" + std::to_string(figures.jpeg_encodes);
    json += ",\"clock_us\":" + std::to_string(figures.clock_us) + "}";
    return json;
}

}  // namespace web
