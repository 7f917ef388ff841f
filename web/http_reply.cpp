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

MHD_Result ReplyStatic(MHD_Connection* connection, const char* content_type,
                       std::span<const std::uint8_t> body) {
    MHD_Response* response = MHD_create_response_from_buffer(
        body.size(), const_cast<std::uint8_t*>(body.data()), MHD_RESPMEM_PERSISTENT);
    // The page loads nothing from anywhere but this server.
    if (response != nullptr)
        MHD_add_response_header(response, "Content-Security-Policy", "default-src 'self'");
    return QueueAndRelease(connection, MHD_HTTP_OK, response, content_type);
}

}  // namespace web
