// Answers through the HTTP library: every answer names its content type, is neither cached nor sniffed
// and sends no referrer on, so a browser always shows the current picture and state.
#pragma once

#include <microhttpd.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace web {

inline constexpr const char* kTextType = "text/plain; charset=utf-8";
inline constexpr const char* kJsonType = "application/json; charset=utf-8";

void AddCommonHeaders(MHD_Response* response, const char* content_type);

// Queues body (copied) with the status; MHD_NO when the library could not take it.
MHD_Result Reply(MHD_Connection* connection, unsigned status, const char* content_type,
                 std::span<const std::uint8_t> body);
MHD_Result ReplyText(MHD_Connection* connection, unsigned status, std::string_view text,
                     const char* content_type = kTextType);
// Queues bytes that owner keeps alive, without copying them; the answer holds owner until it is sent.
MHD_Result ReplyShared(MHD_Connection* connection, const char* content_type,
                       std::shared_ptr<const void> owner, std::span<const std::uint8_t> body);
// Queues bytes that live as long as the program (the built-in page files) without copying them. The page
// loads nothing from anywhere but this server and may be framed by no other site.
MHD_Result ReplyStatic(MHD_Connection* connection, const char* content_type,
                       std::span<const std::uint8_t> body);
// Queues the status and headers of an endless stream without its body (the answer to HEAD).
MHD_Result ReplyHead(MHD_Connection* connection, const char* content_type);

}  // namespace web
