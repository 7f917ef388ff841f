#include "web/event_routes.h"

#include <string>
#include <vector>

#include "web/file_reply.h"
#include "web/host_rule.h"
#include "web/http_reply.h"
#include "web/http_routes.h"
#include "web/http_streams.h"

namespace web {

namespace {

constexpr int kWindowWaitMs = 2000;
constexpr std::string_view kRecordings = "/recordings/";
constexpr std::string_view kThumbnails = "/events/";

bool IsGet(std::string_view method) {
    return method == MHD_HTTP_METHOD_GET || method == MHD_HTTP_METHOD_HEAD;
}

MHD_Result WindowBusy(MHD_Connection* connection) {
    return ReplyText(connection, MHD_HTTP_SERVICE_UNAVAILABLE, "503 サーバーが応答しません。\n");
}

MHD_Result MethodNotAllowed(MHD_Connection* connection) {
    return ReplyText(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "405\n");
}

MHD_Result EventList(MHD_Connection* connection, WebContext& context) {
    std::int64_t since = -1;
    const char* since_text = MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, "since");
    std::string error;
    if (since_text != nullptr && !ParseIsoTime(since_text, &since, &error)) {
        return ReplyText(connection, MHD_HTTP_BAD_REQUEST, "400 " + error + "\n");
    }
    ServerHooks& hooks = context.hooks;
    const std::optional<std::vector<EventRow>> rows =
        context.bridge.Ask<std::vector<EventRow>>([&hooks] { return hooks.Events(); }, kWindowWaitMs);
    if (!rows) return WindowBusy(connection);
    return ReplyText(connection, MHD_HTTP_OK, EventListJson(*rows, since), kJsonType);
}

MHD_Result Thumbnail(MHD_Connection* connection, WebContext& context, std::string_view name) {
    if (!IsRecordingName(name, "jpg")) return ReplyText(connection, MHD_HTTP_NOT_FOUND, "404\n");
    const std::string id(name.substr(0, name.size() - 4));
    ServerHooks& hooks = context.hooks;
    const std::optional<std::vector<std::uint8_t>> jpeg = context.bridge.Ask<std::vector<std::uint8_t>>(
        [&hooks, id] { return hooks.EventThumbnail(id); }, kWindowWaitMs);
    if (!jpeg) return WindowBusy(connection);
    if (jpeg->empty()) return ReplyText(connection, MHD_HTTP_NOT_FOUND, "404\n");
    return Reply(connection, MHD_HTTP_OK, "image/jpeg", *jpeg);
}

MHD_Result Delete(MHD_Connection* connection, WebContext& context, const std::string& name) {
    const char* origin = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_ORIGIN);
    const char* host = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST);
    if (!SameOrigin(origin, host)) {
        return ReplyText(connection, MHD_HTTP_FORBIDDEN, "403 ほかのサイトからの削除は受け付けません。\n");
    }
    ServerHooks& hooks = context.hooks;
    const std::optional<std::string> refusal = context.bridge.Ask<std::string>(
        [&hooks, name] {
            std::string error;
            return hooks.DeleteRecording(name, &error) ? std::string() : error;
        },
        kWindowWaitMs);
    if (!refusal) return WindowBusy(connection);
    if (!refusal->empty()) return ReplyText(connection, MHD_HTTP_CONFLICT, "409 " + *refusal + "\n");
    return ReplyText(connection, MHD_HTTP_OK, "{\"deleted\":true}", kJsonType);
}

MHD_Result Recording(MHD_Connection* connection, WebContext& context, std::string_view method,
                     std::string_view name) {
    const bool video = IsRecordingName(name, "mp4");
    const std::string& folder = context.settings.recordings_folder;
    if (folder.empty() || !(video || IsRecordingName(name, "jpg"))) {
        return ReplyText(connection, MHD_HTTP_NOT_FOUND, "404\n");
    }
    if (method == MHD_HTTP_METHOD_DELETE && video) return Delete(connection, context, std::string(name));
    if (!IsGet(method)) return MethodNotAllowed(connection);
    return ReplyFile(connection, folder + "/" + std::string(name), video ? "video/mp4" : "image/jpeg");
}

}  // namespace

std::optional<MHD_Result> RouteEvents(MHD_Connection* connection, WebContext& context,
                                      std::string_view method, std::string_view url) {
    if (url.substr(0, kRecordings.size()) == kRecordings) {
        return Recording(connection, context, method, url.substr(kRecordings.size()));
    }
    const bool thumbnail = url.substr(0, kThumbnails.size()) == kThumbnails;
    if (url != "/events.json" && url != "/events" && !thumbnail) return std::nullopt;
    if (!IsGet(method)) return MethodNotAllowed(connection);
    if (thumbnail) return Thumbnail(connection, context, url.substr(kThumbnails.size()));
    if (url == "/events.json") return EventList(connection, context);
    return QueueEventStream(connection, context, method);
}

}  // namespace web
