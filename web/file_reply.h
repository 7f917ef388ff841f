// Answers with a file of the recordings' folder, whole or as the one byte range that a player asks for
// (206 with Content-Range, so that a <video> can seek), read in blocks as the client takes them.
#pragma once

#include <microhttpd.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace web {

struct ByteRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;  // inclusive
};

enum class RangeAsked {
    kWhole,          // no Range header, or one that is not a single byte range: the whole file
    kPart,           // *range holds the part
    kUnsatisfiable,  // a byte range that starts beyond the file (416)
};

// Reads a Range header ("bytes=0-99", "bytes=100-", "bytes=-500") for a file of size bytes.
RangeAsked ReadByteRange(const char* header, std::uint64_t size, ByteRange* range);

// Answers GET or HEAD of the file at path: 200 whole, 206 for a byte range, 416 for one that cannot be met,
// 404 when the file is not there.
MHD_Result ReplyFile(MHD_Connection* connection, const std::string& path, const char* content_type);

// Whether name is a plain file name of the recordings' folder: letters, digits, '-' and '_' before its
// one extension; never a path.
bool IsRecordingName(std::string_view name, std::string_view extension);

}  // namespace web
