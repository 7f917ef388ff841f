// The two endless answers: /stream.mjpg (multipart/x-mixed-replace, one JPEG part per captured picture)
// and /sound.wav (a WAV header, then the expanded sound blocks), and /events (Server-Sent Events). Each open
// stream takes one of the max_viewers places (the event streams have places of their own); beyond them the
// answer is 503. A stream that cannot keep up skips to the newest picture or, for sound, to the oldest block
// still kept; nothing queues without bound. HEAD gets the headers alone and takes no place.
#pragma once

#include <microhttpd.h>

#include <string_view>

#include "web/web_context.h"

namespace web {

inline constexpr const char* kMjpegBoundary = "tessalyframe";

MHD_Result QueueMjpegStream(MHD_Connection* connection, WebContext& context, std::string_view method);
MHD_Result QueueWavStream(MHD_Connection* connection, WebContext& context, std::string_view method);
// /events: text/event-stream, a motion-start and a motion-end message per event (event_exchange.h).
MHD_Result QueueEventStream(MHD_Connection* connection, WebContext& context, std::string_view method);

}  // namespace web
