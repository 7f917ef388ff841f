#include "web/http_server.h"

#include <microhttpd.h>

#include <cstdint>
#include <cstdlib>

#include "platform/winsock/plain_listener.h"
#include "web/http_reply.h"
#include "web/http_routes.h"

namespace web {

namespace {

// Beside each stream, a viewer's browser keeps a connection for the page and its status and one for its
// event stream; 16 more serve snapshots and scripts.
constexpr unsigned kConnectionsPerViewer = 3;
constexpr unsigned kSpareConnections = 16;
constexpr std::size_t kConnectionMemory = 32 * 1024;  // bounds the request line and headers
constexpr std::size_t kThreadStackBytes = 512 * 1024;
constexpr std::uintptr_t kMaxBodyBytes = 4096;  // no endpoint reads a body; more is refused
constexpr const char* kRealm = "Tessaly";

bool Authorized(MHD_Connection* connection, const Credentials& credentials) {
    if (credentials.Empty()) return true;
    char* password = nullptr;
    char* user = MHD_basic_auth_get_username_password(connection, &password);
    bool ok = false;
    if (user != nullptr && password != nullptr) {
        // Both compared in full whatever the first one gave, so the time tells nothing.
        const bool user_ok = ConstantTimeEquals(user, credentials.user);
        const bool password_ok = ConstantTimeEquals(password, credentials.password);
        ok = user_ok & password_ok;
    }
    if (user != nullptr) MHD_free(user);
    if (password != nullptr) MHD_free(password);
    return ok;
}

MHD_Result RefuseUnauthorized(MHD_Connection* connection) {
    static const char kText[] = "401 ユーザー名とパスワードが必要です。\n";
    MHD_Response* response =
        MHD_create_response_from_buffer(sizeof kText - 1, const_cast<char*>(kText), MHD_RESPMEM_PERSISTENT);
    if (response == nullptr) return MHD_NO;
    AddCommonHeaders(response, kTextType);
    const MHD_Result result = MHD_queue_basic_auth_fail_response(connection, kRealm, response);
    MHD_destroy_response(response);
    return result;
}

// A body longer than any endpoint takes, as announced by Content-Length.
bool AnnouncesLongBody(MHD_Connection* connection) {
    const char* length =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
    return length != nullptr && std::strtoull(length, nullptr, 10) > kMaxBodyBytes;
}

// Called by the library for each request: once when its headers are in, then once per piece of body, then
// once more when it is complete. The per-request pointer counts the body bytes seen, plus one.
MHD_Result HandleRequest(void* cls, MHD_Connection* connection, const char* url, const char* method,
                         const char*, const char*, std::size_t* upload_size, void** request) {
    auto& context = *static_cast<WebContext*>(cls);
    auto seen = reinterpret_cast<std::uintptr_t>(*request);
    if (seen == 0) {
        if (AnnouncesLongBody(connection)) return ReplyText(connection, MHD_HTTP_CONTENT_TOO_LARGE, "413\n");
        *request = reinterpret_cast<void*>(std::uintptr_t{1});
        return MHD_YES;
    }
    if (*upload_size != 0) {
        seen += *upload_size;
        *upload_size = 0;
        *request = reinterpret_cast<void*>(seen);
        return seen - 1 > kMaxBodyBytes ? MHD_NO : MHD_YES;  // an unannounced long body: the connection ends
    }
    if (!Authorized(connection, context.settings.credentials)) return RefuseUnauthorized(connection);
    return Route(connection, context, method, url);
}

// Turns away peers that the settings do not allow, before any byte is read; the server reports them.
MHD_Result AcceptPeer(void* cls, const sockaddr* peer, socklen_t length) {
    auto& context = *static_cast<WebContext*>(cls);
    if (!context.settings.allows) return MHD_YES;
    std::int32_t address = 0;
    if (!winsock::PeerIPv4Address(peer, length, &address)) return MHD_NO;  // IPv4 only
    if (context.settings.allows(address)) return MHD_YES;
    ServerHooks& hooks = context.hooks;
    context.bridge.Tell([&hooks, address] { hooks.Refused(address); });
    return MHD_NO;
}

}  // namespace

HttpServer::~HttpServer() {
    Stop();
}

bool HttpServer::Start(std::string* error) {
    if (daemon_ != nullptr) return true;
    const Settings& s = context_.settings;
    const int listener = winsock::OpenPlainListener(s.bind_address, s.port, error);
    if (listener < 0) return false;
    port_ = winsock::LocalPort(listener);
    const unsigned flags = MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_AUTO;
    daemon_ =
        MHD_start_daemon(flags, 0, AcceptPeer, &context_, HandleRequest, &context_, MHD_OPTION_LISTEN_SOCKET,
                         listener, MHD_OPTION_CONNECTION_LIMIT,
                         kConnectionsPerViewer * static_cast<unsigned>(s.max_viewers) + kSpareConnections,
                         MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(s.idle_timeout_s),
                         MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory, MHD_OPTION_THREAD_STACK_SIZE,
                         kThreadStackBytes, MHD_OPTION_END);
    if (daemon_ == nullptr) {
        winsock::ClosePlainSocket(listener);
        *error = "the HTTP server could not start on " + s.bind_address + ":" + std::to_string(s.port);
        return false;
    }
    return true;
}

void HttpServer::Stop() {
    if (daemon_ == nullptr) return;
    MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
}

}  // namespace web
