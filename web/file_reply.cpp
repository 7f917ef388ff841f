#include "web/file_reply.h"

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "web/http_reply.h"

namespace web {

namespace {

constexpr std::size_t kFileBlockBytes = 64 * 1024;

bool ReadNumber(std::string_view text, std::uint64_t* number) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *number);
    return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

// The file being sent: read from its own position as the library asks.
struct OpenFile {
    std::FILE* file = nullptr;
    std::uint64_t first = 0;
    ~OpenFile() {
        if (file != nullptr) std::fclose(file);
    }
};

ssize_t ReadFileBlock(void* open, std::uint64_t position, char* buf, std::size_t max) {
    auto* f = static_cast<OpenFile*>(open);
    if (std::fseek(f->file, static_cast<long>(f->first + position), SEEK_SET) != 0)
        return MHD_CONTENT_READER_END_WITH_ERROR;
    const std::size_t n = std::fread(buf, 1, max, f->file);
    return n == 0 ? MHD_CONTENT_READER_END_WITH_ERROR : static_cast<ssize_t>(n);
}

MHD_Result Queue(MHD_Connection* connection, unsigned status, MHD_Response* response, const char* type) {
    if (response == nullptr) return MHD_NO;
    AddCommonHeaders(response, type);
    MHD_add_response_header(response, MHD_HTTP_HEADER_ACCEPT_RANGES, "bytes");
    const MHD_Result result = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return result;
}

}  // namespace

RangeAsked ReadByteRange(const char* header, std::uint64_t size, ByteRange* range) {
    if (header == nullptr) return RangeAsked::kWhole;
    std::string_view text(header);
    if (text.substr(0, 6) != "bytes=" || text.find(',') != std::string_view::npos) return RangeAsked::kWhole;
    text.remove_prefix(6);
    const std::size_t dash = text.find('-');
    if (dash == std::string_view::npos) return RangeAsked::kWhole;
    std::uint64_t first = 0, last = 0;
    const std::string_view from = text.substr(0, dash), to = text.substr(dash + 1);
    if (from.empty()) {  // the last `to` bytes
        if (!ReadNumber(to, &last) || last == 0) return RangeAsked::kUnsatisfiable;
        if (size == 0) return RangeAsked::kUnsatisfiable;
        *range = {last >= size ? 0 : size - last, size - 1};
        return RangeAsked::kPart;
    }
    if (!ReadNumber(from, &first)) return RangeAsked::kWhole;
    if (to.empty()) {
        last = size == 0 ? 0 : size - 1;
    } else if (!ReadNumber(to, &last) || last < first) {
        return RangeAsked::kWhole;
    }
    if (first >= size) return RangeAsked::kUnsatisfiable;
    *range = {first, std::min(last, size - 1)};
    return RangeAsked::kPart;
}

MHD_Result ReplyFile(MHD_Connection* connection, const std::string& path, const char* content_type) {
    std::error_code code;
    const std::uint64_t size = std::filesystem::file_size(path, code);
    auto open = std::make_unique<OpenFile>();
    if (!code) open->file = std::fopen(path.c_str(), "rb");
    if (code || open->file == nullptr) return ReplyText(connection, MHD_HTTP_NOT_FOUND, "404\n");
    ByteRange range{0, size == 0 ? 0 : size - 1};
    const char* header = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_RANGE);
    const RangeAsked asked = ReadByteRange(header, size, &range);
    if (asked == RangeAsked::kUnsatisfiable) {
        MHD_Response* response = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
        if (response != nullptr) {
            MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_RANGE,
                                    ("bytes */" + std::to_string(size)).c_str());
        }
        return Queue(connection, MHD_HTTP_RANGE_NOT_SATISFIABLE, response, content_type);
    }
    const std::uint64_t length = size == 0 ? 0 : range.last - range.first + 1;
    open->first = range.first;
    // The library reads no body for HEAD, but sends its length.
    MHD_Response* response =
        MHD_create_response_from_callback(length, kFileBlockBytes, ReadFileBlock, open.get(),
                                          [](void* f) { delete static_cast<OpenFile*>(f); });
    if (response == nullptr) return MHD_NO;
    open.release();  // the response owns it now
    const unsigned status = asked == RangeAsked::kPart ? MHD_HTTP_PARTIAL_CONTENT : MHD_HTTP_OK;
    if (asked == RangeAsked::kPart) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_RANGE,
                                ("bytes " + std::to_string(range.first) + "-" + std::to_string(range.last) +
                                 "/" + std::to_string(size))
                                    .c_str());
    }
    return Queue(connection, status, response, content_type);
}

bool IsRecordingName(std::string_view name, std::string_view extension) {
    if (name.size() <= extension.size() + 1 || name.substr(name.size() - extension.size()) != extension ||
        name[name.size() - extension.size() - 1] != '.') {
        return false;
    }
    for (const char c : name.substr(0, name.size() - extension.size() - 1)) {
        const bool plain = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           c == '-' || c == '_';
        if (!plain) return false;
    }
    return true;
}

}  // namespace web
