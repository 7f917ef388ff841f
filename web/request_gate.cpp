#include "web/request_gate.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/capture/timestamp.h"
#include "platform/winsock/plain_listener.h"
#include "web/http_reply.h"

namespace web {

namespace {

constexpr const char* kRealm = "Tessaly";

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if ((x | 0x20) != (y | 0x20)) return false;
    }
    return true;
}

struct FramingHeaders {
    int content_lengths = 0;
    int transfer_encodings = 0;
};

MHD_Result CountFraming(void* cls, MHD_ValueKind, const char* key, const char*) {
    auto& count = *static_cast<FramingHeaders*>(cls);
    if (SameName(key, MHD_HTTP_HEADER_CONTENT_LENGTH)) ++count.content_lengths;
    if (SameName(key, MHD_HTTP_HEADER_TRANSFER_ENCODING)) ++count.transfer_encodings;
    return MHD_YES;
}

// A request whose body length could be read two ways (request smuggling through a proxy in front).
bool AmbiguousFraming(MHD_Connection* connection) {
    FramingHeaders count;
    MHD_get_connection_values(connection, MHD_HEADER_KIND, CountFraming, &count);
    return count.content_lengths > 1 || (count.content_lengths > 0 && count.transfer_encodings > 0);
}

bool AnnouncesLongBody(MHD_Connection* connection) {
    const char* length =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
    return length != nullptr && std::strtoull(length, nullptr, 10) > kMaxBodyBytes;
}

std::optional<std::int32_t> PeerAddress(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    std::int32_t address = 0;
    if (info == nullptr || !winsock::PeerIPv4Address(info->client_addr, sizeof(sockaddr), &address))
        return std::nullopt;
    return address;
}

// The dotted form of an address in network byte order.
std::string Dotted(std::int32_t address) {
    const auto* b = reinterpret_cast<const unsigned char*>(&address);
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
           std::to_string(b[3]);
}

// Whether the request's credentials are right; *offered tells whether it carried any.
bool Authorized(MHD_Connection* connection, const Credentials& credentials, bool* offered) {
    char* password = nullptr;
    char* user = MHD_basic_auth_get_username_password(connection, &password);
    *offered = user != nullptr;
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

MHD_Result AskForPassword(MHD_Connection* connection) {
    static const char kText[] = "401 ユーザー名とパスワードが必要です。\n";
    MHD_Response* response =
        MHD_create_response_from_buffer(sizeof kText - 1, const_cast<char*>(kText), MHD_RESPMEM_PERSISTENT);
    if (response == nullptr) return MHD_NO;
    AddCommonHeaders(response, kTextType);
    const MHD_Result result = MHD_queue_basic_auth_fail_response(connection, kRealm, response);
    MHD_destroy_response(response);
    return result;
}

MHD_Result TooManyGuesses(MHD_Connection* connection, int wait_seconds) {
    static const char kText[] = "429 パスワードの誤りが続いたため、しばらくお待ちください。\n";
    MHD_Response* response =
        MHD_create_response_from_buffer(sizeof kText - 1, const_cast<char*>(kText), MHD_RESPMEM_PERSISTENT);
    if (response == nullptr) return MHD_NO;
    AddCommonHeaders(response, kTextType);
    MHD_add_response_header(response, MHD_HTTP_HEADER_RETRY_AFTER, std::to_string(wait_seconds).c_str());
    const MHD_Result result = MHD_queue_response(connection, MHD_HTTP_TOO_MANY_REQUESTS, response);
    MHD_destroy_response(response);
    return result;
}

}  // namespace

std::optional<MHD_Result> RefuseBadRequest(MHD_Connection* connection, WebContext& context,
                                           const char* version) {
    if (AmbiguousFraming(connection))
        return ReplyText(connection, MHD_HTTP_BAD_REQUEST, "400 本文の長さが二通りに読めます。\n");
    const char* host = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST);
    if (host == nullptr && version != nullptr && std::string_view(version) != MHD_HTTP_VERSION_1_0)
        return ReplyText(connection, MHD_HTTP_BAD_REQUEST, "400 Host ヘッダーがありません。\n");
    if (host != nullptr && !context.host_rule.Answers(host))
        return ReplyText(connection, MHD_HTTP_MISDIRECTED_REQUEST, "421 このホスト名では応答しません。\n");
    if (AnnouncesLongBody(connection)) return ReplyText(connection, MHD_HTTP_CONTENT_TOO_LARGE, "413\n");
    return std::nullopt;
}

std::optional<MHD_Result> RefuseUnauthenticated(MHD_Connection* connection, WebContext& context) {
    const Credentials& credentials = context.settings.credentials;
    if (credentials.Empty()) return std::nullopt;
    const std::optional<std::int32_t> peer = PeerAddress(connection);
    const std::int32_t address = peer.value_or(0);
    const std::int64_t now = platform::MonotonicMicros();
    if (const int wait = context.guesses.WaitSeconds(address, now); wait > 0)
        return TooManyGuesses(connection, wait);
    bool offered = false;
    if (Authorized(connection, credentials, &offered)) {
        context.guesses.Succeeded(address);
        return std::nullopt;
    }
    // A browser asks first without a password: only a wrong one counts as a guess.
    if (offered) {
        std::string line = context.guesses.Failed(address, Dotted(address), now);
        ServerHooks& hooks = context.hooks;
        if (!line.empty()) context.bridge.Tell([&hooks, line = std::move(line)] { hooks.Note(line); });
    }
    return AskForPassword(connection);
}

}  // namespace web
