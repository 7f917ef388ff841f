// An event as JSON text.
#include <cstdio>

#include "events/event_tracker.h"

namespace events {
namespace {

void AppendString(std::string* out, const std::string& text) {
    *out += '"';
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            *out += '\\';
            *out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            *out += escaped;
        } else {
            *out += c;
        }
    }
    *out += '"';
}

}  // namespace

std::string EventJson(const Event& event, const std::string& thumbnail_url,
                      const std::optional<std::string>& video_url) {
    std::string json = "{\"id\":";
    AppendString(&json, event.id);
    json += ",\"start\":";
    AppendString(&json, IsoTime(event.start));
    json += ",\"end\":";
    if (event.end) {
        AppendString(&json, IsoTime(*event.end));
    } else {
        json += "null";
    }
    const motion::Box& b = event.box;
    json += ",\"peak\":" + std::to_string(event.peak) + ",\"box\":[" + std::to_string(b.x) + "," +
            std::to_string(b.y) + "," + std::to_string(b.w) + "," + std::to_string(b.h) + "],\"thumbnail\":";
    AppendString(&json, thumbnail_url);
    json += ",\"video\":";
    if (video_url) {
        AppendString(&json, *video_url);
    } else {
        json += "null";
    }
    json += '}';
    return json;
}

}  // namespace events
