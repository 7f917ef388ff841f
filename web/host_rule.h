// Which names a request's Host header may carry, so that a page of another site whose name was pointed at
// this machine (DNS rebinding) is not served: IP address literals, localhost, the machine's own host name
// and HOSTNAME.local, and the names the user adds. Also the Origin rule of requests that change something.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace web {

class HostRule {
  public:
    // machine_name: this machine's host name (may be empty); extra_names: the user's further names.
    HostRule(const std::string& machine_name, const std::vector<std::string>& extra_names);

    // Whether a Host header value (name and optional :port; IPv6 in brackets) names this server.
    bool Answers(std::string_view host) const;

  private:
    std::vector<std::string> names_;  // lower case, without a trailing dot
};

// The name part of a Host value, lower case and without a trailing dot: "[::1]:80" gives "[::1]".
std::string HostName(std::string_view host);

// Whether a request's Origin header (null when absent) names this server itself: the Host it was sent to,
// over http or https (a TLS proxy in front serves the page as https). A request without one (a script) is
// served; one from another site, or "null", is not.
bool SameOrigin(const char* origin, const char* host);

}  // namespace web
