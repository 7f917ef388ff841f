// Tessaly's side of its web face (web/): started with serving, fed with every captured picture and every
// sound block, and answering the web face's questions (status, alarm, sound wanted) from the server's own
// state on the window thread. Every function here runs on the window thread.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "server/allow_list.h"
#include "web/web_settings.h"

namespace tessaly {

// Starts the web face on the serving address, when its port is not 0, for the peers that allow admits, and
// prints its page address (or why it could not start: the server serves its receivers all the same).
void StartWebFace(const web::Settings& settings, const AllowList& allow, const std::string& address);
void StopWebFace();

void OfferPictureToWeb(const std::uint8_t* bottom_up_bgr, std::int64_t capture_micros);
void OfferSoundToWeb(std::span<const std::uint8_t, 1600> block);

// Whether a web listener needs the sound capture running.
bool WebWantsSound();

// Prints "web viewers: N (pictures P, sound S)" when the numbers changed since the last call.
void ReportWebViewers();

}  // namespace tessaly
