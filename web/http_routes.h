// The endpoints of the web face, reached once a request is complete and authenticated.
#pragma once

#include <microhttpd.h>

#include <string_view>

#include "web/web_context.h"

namespace web {

// Answers one request: the page files, the streams, the snapshots, the status and the alarm; 404 for
// other paths and 405 for a method a path does not take.
MHD_Result Route(MHD_Connection* connection, WebContext& context, std::string_view method,
                 std::string_view url);

// Whether a request's Origin header (null when absent) names this server itself: the Host it was sent to,
// over http. A request without one (a script) is served; one from another site is not.
bool SameOrigin(const char* origin, const char* host);

}  // namespace web
