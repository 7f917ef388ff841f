// What every request passes before any endpoint: a framing that cannot be read two ways (one
// Content-Length, never beside chunked encoding), a Host that names this server (DNS rebinding), a body no
// bigger than an endpoint takes, and, when a password is set, HTTP Basic authentication with password
// guessing slowed down per address.
#pragma once

#include <microhttpd.h>

#include <optional>

#include "web/web_context.h"

namespace web {

// When the request's headers are in: an answer already queued (its result) when the request is refused,
// nothing when it may go on. version is the request's HTTP version ("HTTP/1.1").
std::optional<MHD_Result> RefuseBadRequest(MHD_Connection* connection, WebContext& context,
                                           const char* version);

// When the request is complete: an answer already queued (401 or 429) when it is not authenticated,
// nothing when it may go on.
std::optional<MHD_Result> RefuseUnauthenticated(MHD_Connection* connection, WebContext& context);

// The most body bytes any endpoint takes.
inline constexpr std::size_t kMaxBodyBytes = 4096;

}  // namespace web
