// The HTTP side of the web face over libmicrohttpd: one listening socket on the bind address, a thread per
// connection (a stream's thread waits for its next picture or sound block, bounded, without holding up any
// other client), and limits on everything a client controls: connections at once, header size (the
// connection's memory), request bodies, idle time. Authentication (HTTP Basic) is checked before any
// endpoint when credentials are set.
#pragma once

#include <cstdint>
#include <string>

#include "web/web_context.h"

struct MHD_Daemon;

namespace web {

class HttpServer {
  public:
    explicit HttpServer(WebContext& context) : context_(context) {}
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Listens on the settings' port (0: a free port that the system chooses).
    bool Start(std::string* error);
    // Ends the streams (the context must be stopping) and joins the library's threads.
    void Stop();
    bool Running() const { return daemon_ != nullptr; }
    // The port listened on while running.
    std::uint16_t Port() const { return port_; }

  private:
    WebContext& context_;
    MHD_Daemon* daemon_ = nullptr;
    std::uint16_t port_ = 0;
};

}  // namespace web
