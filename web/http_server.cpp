#include "web/http_server.h"

#include <microhttpd.h>

#include <cstdint>
#include <vector>

#include "platform/capture/timestamp.h"
#include "platform/winsock/plain_listener.h"
#include "web/http_routes.h"
#include "web/request_gate.h"

namespace web {

namespace {

// Beside each stream, a viewer's browser keeps a connection for the page and its status and one for its
// event stream; 16 more serve snapshots and scripts.
constexpr unsigned kConnectionsPerViewer = 3;
constexpr unsigned kSpareConnections = 16;
constexpr std::size_t kConnectionMemory = 32 * 1024;  // bounds the request line and headers
constexpr std::size_t kThreadStackBytes = 512 * 1024;

using Served = HttpServer::Served;

// Called by the library for each request: once when its headers are in, then once per piece of body, then
// once more when it is complete. The per-request pointer counts the body bytes seen, plus one.
MHD_Result HandleRequest(void* cls, MHD_Connection* connection, const char* url, const char* method,
                         const char* version, const char*, std::size_t* upload_size, void** request) {
    auto& served = *static_cast<Served*>(cls);
    auto seen = reinterpret_cast<std::uintptr_t>(*request);
    if (seen == 0) {
        if (auto refused = RefuseBadRequest(connection, served.context, version)) return *refused;
        *request = reinterpret_cast<void*>(std::uintptr_t{1});
        return MHD_YES;
    }
    if (*upload_size != 0) {
        seen += *upload_size;
        *upload_size = 0;
        *request = reinterpret_cast<void*>(seen);
        return seen - 1 > kMaxBodyBytes ? MHD_NO : MHD_YES;  // an unannounced long body: the connection ends
    }
    served.guard.RequestArrived(connection);  // whole, body and all: from now on it is being answered
    if (auto refused = RefuseUnauthenticated(connection, served.context)) return *refused;
    return Route(connection, served.context, method, url);
}

// Turns away peers that the settings do not allow, before any byte is read (the server reports them), and
// makes room for the others.
MHD_Result AcceptPeer(void* cls, const sockaddr* peer, socklen_t length) {
    auto& served = *static_cast<Served*>(cls);
    WebContext& context = served.context;
    if (context.settings.allows) {
        std::int32_t address = 0;
        if (!winsock::PeerIPv4Address(peer, length, &address)) return MHD_NO;  // IPv4 only
        if (!context.settings.allows(address)) {
            ServerHooks& hooks = context.hooks;
            context.bridge.Tell([&hooks, address] { hooks.Refused(address); });
            return MHD_NO;
        }
    }
    return served.guard.MakeRoom() ? MHD_YES : MHD_NO;
}

void ConnectionChanged(void* cls, MHD_Connection* connection, void**, MHD_ConnectionNotificationCode code) {
    auto& guard = static_cast<Served*>(cls)->guard;
    if (code == MHD_CONNECTION_NOTIFY_CLOSED) {
        guard.Closed(connection);
        return;
    }
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    guard.Opened(connection, info != nullptr ? info->connect_fd : -1, platform::MonotonicMicros());
}

void RequestEnded(void* cls, MHD_Connection* connection, void**, MHD_RequestTerminationCode) {
    static_cast<Served*>(cls)->guard.AnswerEnded(connection, platform::MonotonicMicros());
}

template <typename Fn>
MHD_OptionItem Callback(MHD_OPTION option, Fn fn, void* cls) {
    return {option, reinterpret_cast<intptr_t>(fn), cls};
}

}  // namespace

HttpServer::~HttpServer() {
    Stop();
}

bool HttpServer::Start(std::string* error) {
    if (daemon_ != nullptr) return true;
    const Settings& s = context_.settings;
    const unsigned most = kConnectionsPerViewer * static_cast<unsigned>(s.max_viewers) + kSpareConnections;
    served_.reset(new Served{
        context_, {static_cast<int>(most), s.request_deadline_s * 1000, winsock::ShutdownPlainSocket}});
    const int listener = winsock::OpenPlainListener(s.bind_address, s.port, error);
    if (listener < 0) return false;
    port_ = winsock::LocalPort(listener);
    unsigned flags = MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_AUTO;
    // The library's own cap is above the guard's, which frees places for newcomers: connections that it
    // ends take a moment to close.
    std::vector<MHD_OptionItem> options = {
        {MHD_OPTION_LISTEN_SOCKET, listener, nullptr},
        {MHD_OPTION_CONNECTION_LIMIT, 2 * most, nullptr},
        {MHD_OPTION_PER_IP_CONNECTION_LIMIT, s.per_address_limit, nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, s.idle_timeout_s, nullptr},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(kConnectionMemory), nullptr},
        {MHD_OPTION_THREAD_STACK_SIZE, static_cast<intptr_t>(kThreadStackBytes), nullptr},
        Callback(MHD_OPTION_NOTIFY_CONNECTION, &ConnectionChanged, served_.get()),
        Callback(MHD_OPTION_NOTIFY_COMPLETED, &RequestEnded, served_.get()),
    };
    if (!s.tls.Empty()) {
        if (MHD_is_feature_supported(MHD_FEATURE_TLS) != MHD_YES) {
            winsock::ClosePlainSocket(listener);
            *error = "this libmicrohttpd has no TLS: HTTPS cannot be served";
            return false;
        }
        flags |= MHD_USE_TLS;
        options.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(s.tls.key_pem.c_str())});
        options.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(s.tls.certificate_pem.c_str())});
    }
    options.push_back({MHD_OPTION_END, 0, nullptr});
    daemon_ = MHD_start_daemon(flags, 0, AcceptPeer, served_.get(), HandleRequest, served_.get(),
                               MHD_OPTION_ARRAY, options.data(), MHD_OPTION_END);
    if (daemon_ == nullptr) {
        winsock::ClosePlainSocket(listener);
        *error = "the HTTP server could not start on " + s.bind_address + ":" + std::to_string(s.port);
        return false;
    }
    return true;
}

void HttpServer::Stop() {
    if (daemon_ != nullptr) MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
    served_.reset();
}

}  // namespace web
