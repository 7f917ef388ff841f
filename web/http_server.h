// The HTTP side of the web face over libmicrohttpd: one listening socket on the bind address, plain or
// TLS, a thread per connection (a stream's thread waits for its next picture or sound block, bounded,
// without holding up any other client), and limits on everything a client controls: connections at once
// and per address, the time to send a whole request, header size (the connection's memory), request
// bodies, idle time. Every request passes the request gate before an endpoint.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "web/connection_guard.h"
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

    // What the library's callbacks are given.
    struct Served {
        WebContext& context;
        ConnectionGuard guard;
    };

  private:
    WebContext& context_;
    std::unique_ptr<Served> served_;
    MHD_Daemon* daemon_ = nullptr;
    std::uint16_t port_ = 0;
};

}  // namespace web
