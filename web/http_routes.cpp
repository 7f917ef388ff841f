#include "web/http_routes.h"

#include <memory>
#include <string>

#include "platform/capture/timestamp.h"
#include "web/event_routes.h"
#include "web/host_rule.h"
#include "web/http_reply.h"
#include "web/http_streams.h"
#include "web/page_files.h"
#include "web/status_json.h"

namespace web {

namespace {

// How long a request waits for the window thread to answer; it answers between its other messages.
constexpr int kWindowWaitMs = 2000;

bool IsGet(std::string_view method) {
    return method == MHD_HTTP_METHOD_GET || method == MHD_HTTP_METHOD_HEAD;
}

MHD_Result WindowBusy(MHD_Connection* connection) {
    return ReplyText(connection, MHD_HTTP_SERVICE_UNAVAILABLE, "503 サーバーが応答しません。\n");
}

MHD_Result NotAllowed(MHD_Connection* connection, const char* allow) {
    static const char kText[] = "405\n";
    MHD_Response* response =
        MHD_create_response_from_buffer(sizeof kText - 1, const_cast<char*>(kText), MHD_RESPMEM_PERSISTENT);
    if (response == nullptr) return MHD_NO;
    AddCommonHeaders(response, kTextType);
    MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, allow);
    const MHD_Result result = MHD_queue_response(connection, MHD_HTTP_METHOD_NOT_ALLOWED, response);
    MHD_destroy_response(response);
    return result;
}

MHD_Result NoPictureYet(MHD_Connection* connection) {
    return ReplyText(connection, MHD_HTTP_SERVICE_UNAVAILABLE, "503 画像がまだありません。\n");
}

MHD_Result Snapshot(MHD_Connection* connection, WebContext& context, bool bmp) {
    if (bmp) {
        auto file = std::make_shared<const std::vector<std::uint8_t>>(context.pictures.NewestSnapshotBmp());
        if (file->empty()) return NoPictureYet(connection);
        const std::span<const std::uint8_t> bytes(*file);
        return ReplyShared(connection, "image/bmp", std::move(file), bytes);
    }
    std::shared_ptr<const SharedJpeg> jpeg = context.pictures.NewestJpeg();
    if (!jpeg) return NoPictureYet(connection);
    const std::span<const std::uint8_t> bytes = jpeg->Bytes();
    return ReplyShared(connection, "image/jpeg", std::move(jpeg), bytes);
}

MHD_Result Status(MHD_Connection* connection, WebContext& context) {
    ServerHooks& hooks = context.hooks;
    const std::optional<ServerState> state =
        context.bridge.Ask<ServerState>([&hooks] { return hooks.State(); }, kWindowWaitMs);
    if (!state) return WindowBusy(connection);
    WebFigures figures;
    figures.picture_viewers = context.picture_viewers;
    figures.sound_listeners = context.sound_listeners;
    figures.max_viewers = context.settings.max_viewers;
    figures.capture_fps = context.pictures.CaptureRate();
    figures.jpeg_encodes = context.pictures.JpegEncodes();
    figures.clock_us = platform::MonotonicMicros();
    return ReplyText(connection, MHD_HTTP_OK, StatusJson(*state, figures), kJsonType);
}

MHD_Result Alarm(MHD_Connection* connection, WebContext& context) {
    const char* origin = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_ORIGIN);
    const char* host = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST);
    if (!SameOrigin(origin, host)) {
        return ReplyText(connection, MHD_HTTP_FORBIDDEN, "403 ほかのサイトからの警報は受け付けません。\n");
    }
    ServerHooks& hooks = context.hooks;
    const std::optional<bool> played =
        context.bridge.Ask<bool>([&hooks] { return hooks.SoundAlarm(); }, kWindowWaitMs);
    if (!played) return WindowBusy(connection);
    return ReplyText(connection, MHD_HTTP_OK,
                     std::string("{\"played\":") + (*played ? "true" : "false") + "}", kJsonType);
}

}  // namespace

MHD_Result Route(MHD_Connection* connection, WebContext& context, std::string_view method,
                 std::string_view url) {
    if (const std::optional<MHD_Result> answered = RouteEvents(connection, context, method, url)) {
        return *answered;
    }
    if (url == "/alarm") {
        if (method != MHD_HTTP_METHOD_POST) return NotAllowed(connection, "POST");
        return Alarm(connection, context);
    }
    const bool known = url == "/stream.mjpg" || url == "/sound.wav" || url == "/snapshot.jpg" ||
                       url == "/snapshot.bmp" || url == "/status.json" || FindPageFile(url) != nullptr;
    if (!known) return ReplyText(connection, MHD_HTTP_NOT_FOUND, "404\n");
    if (!IsGet(method)) return NotAllowed(connection, "GET, HEAD");
    if (url == "/stream.mjpg") return QueueMjpegStream(connection, context, method);
    if (url == "/sound.wav") return QueueWavStream(connection, context, method);
    if (url == "/snapshot.jpg") return Snapshot(connection, context, false);
    if (url == "/snapshot.bmp") return Snapshot(connection, context, true);
    if (url == "/status.json") return Status(connection, context);
    const PageFile* file = FindPageFile(url);
    return ReplyStatic(connection, file->content_type, file->bytes);
}

}  // namespace web
