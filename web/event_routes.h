// The web face's endpoints of Tessaly's watching: /events.json (newest first, ?since=ISO-TIME), /events
// (Server-Sent Events), /events/ID.jpg (a kept event's thumbnail), /recordings/NAME.mp4 and NAME.jpg (files
// of the recordings' folder, with byte ranges) and DELETE /recordings/NAME.mp4 (only from this server's own
// page or a script, as the alarm). They pass the same password and host checks as every other request.
#pragma once

#include <microhttpd.h>

#include <optional>
#include <string_view>

#include "web/web_context.h"

namespace web {

// Answers a request for one of these paths; nothing when the path is none of them.
std::optional<MHD_Result> RouteEvents(MHD_Connection* connection, WebContext& context,
                                      std::string_view method, std::string_view url);

}  // namespace web
