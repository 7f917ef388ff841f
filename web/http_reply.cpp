#include "web/http_reply.h"

namespace web {

namespace {

MHD_Result QueueAndRelease(MHD_Connection* connection, unsigned status, MHD_Response* response,
                           const char* content_type) {
    if (response == nullptr) return MHD_NO;
    AddCommonHeaders(response, content_type);
    const MHD_Result result = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return result;
}

}  // namespace

void AddCommonHeaders(MHD_Response* response, const char* content_type) {
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, content_type);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    MHD_add_response_header(response, "Referrer-Policy", "no-referrer");
}

MHD_Result Reply(MHD_Connection* connection, unsigned status, const char* content_type,
                 std::span<const std::uint8_t> body) {
    MHD_Response* response = MHD_create_response_from_buffer(
        body.size(), const_cast<std::uint8_t*>(body.data()), MHD_RESPMEM_MUST_COPY);
    return QueueAndRelease(connection, status, response, content_type);
}

MHD_Result ReplyText(MHD_Connection* connection, unsigned status, std::string_view text,
                     const char* content_type) {
    return Reply(connection, status, content_type,
                 {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

MHD_Result ReplyShared(MHD_Connection* connection, const char* content_type,
                       std::shared_ptr<const void> owner, std::span<const std::uint8_t> body) {
    auto* held = new std::shared_ptr<const void>(std::move(owner));
    MHD_Response* response = MHD_create_response_from_buffer_with_free_callback_cls(
        body.size(), const_cast<std::uint8_t*>(body.data()),
        [](void* h) { delete static_cast<std::shared_ptr<const void>*>(h); }, held);
    if (response == nullptr) delete held;
    return QueueAndRelease(connection, MHD_HTTP_OK, response, content_type);
}

MHD_Result ReplyStatic(MHD_Connection* connection, const char* content_type,
                       std::span<const std::uint8_t> body) {
    MHD_Response* response = MHD_create_response_from_buffer(
        body.size(), const_cast<std::uint8_t*>(body.data()), MHD_RESPMEM_PERSISTENT);
    if (response != nullptr) {
        MHD_add_response_header(response, "Content-Security-Policy",
                                "default-src 'self'; frame-ancestors 'self'");
        MHD_add_response_header(response, "X-Frame-Options", "SAMEORIGIN");
    }
    return QueueAndRelease(connection, MHD_HTTP_OK, response, content_type);
}

MHD_Result ReplyHead(MHD_Connection* connection, const char* content_type) {
    // An answer of unknown length, as the stream's own, but not chunked (a HEAD answer carries no body,
    // not even a chunked one's end); the connection closes after it.
    MHD_Response* response = MHD_create_response_from_callback(
        MHD_SIZE_UNKNOWN, 1,
        [](void*, std::uint64_t, char*, std::size_t) -> ssize_t { return MHD_CONTENT_READER_END_OF_STREAM; },
        nullptr, nullptr);
    if (response != nullptr)
        MHD_set_response_options(response, MHD_RF_HTTP_1_0_COMPATIBLE_STRICT, MHD_RO_END);
    return QueueAndRelease(connection, MHD_HTTP_OK, response, content_type);
}

}  // namespace web
