// The endpoints of the web face, reached once a request is complete and authenticated.
#pragma once

#include <microhttpd.h>

#include <string_view>

#include "web/web_context.h"

namespace web {

// Answers one request: the page files, the streams, the snapshots, the status, the alarm and the watching's
// events and recordings (event_routes.h); 404 for
// other paths and 405 for a method a path does not take.
MHD_Result Route(MHD_Connection* connection, WebContext& context, std::string_view method,
                 std::string_view url);

}  // namespace web
