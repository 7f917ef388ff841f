// What the web face's HTTP threads share: the settings, the picture and sound exchanges, the bridge to the
// window thread and the counts of open streams. Made and ended on the window thread; between the two only
// the exchanges, the bridge and the atomics are touched from other threads.
#pragma once

#include <atomic>
#include <string>

#include "audio/CWAVE.h"
#include "web/guess_throttle.h"
#include "web/host_rule.h"
#include "web/event_exchange.h"
#include "web/picture_exchange.h"
#include "web/sound_exchange.h"
#include "web/web_face.h"
#include "web/window_bridge.h"

namespace web {

struct WebContext {
    WebContext(const Settings& s, ServerHooks& h, const std::string& machine_name)
        : settings(s), hooks(h), host_rule(machine_name, s.host_names), pictures(s.jpeg_quality) {}

    // Takes one of the max_viewers stream places; false when all are taken.
    bool TakeStreamPlace() {
        int open = open_streams.load();
        do {
            if (open >= settings.max_viewers) return false;
        } while (!open_streams.compare_exchange_weak(open, open + 1));
        return true;
    }
    void GiveStreamPlace() { --open_streams; }
    // The same for the event streams (/events), which have max_viewers places of their own.
    bool TakeEventPlace() {
        int open = event_listeners.load();
        do {
            if (open >= settings.max_viewers) return false;
        } while (!event_listeners.compare_exchange_weak(open, open + 1));
        return true;
    }

    const Settings settings;
    ServerHooks& hooks;  // window thread only: reached through the bridge
    const HostRule host_rule;
    GuessThrottle guesses;
    PictureExchange pictures;
    SoundExchange sound;
    EventExchange events;
    const CWAVE sound_expander;  // only its const expansion is used, from any thread
    WindowBridge bridge;
    std::atomic<int> open_streams{0};
    std::atomic<int> picture_viewers{0};
    std::atomic<int> sound_listeners{0};
    std::atomic<int> event_listeners{0};
    std::atomic<bool> stopping{false};
};

}  // namespace web
