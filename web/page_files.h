// The page's files (web/page/), built into the program so that the page works with no network beyond this
// server: no CDN, no external fonts.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace web {

struct PageFile {
    std::string_view path;  // "/index.html", "/app.js", ...
    const char* content_type;
    std::span<const std::uint8_t> bytes;
};

// The file served at path ("/" is /index.html); nullptr when there is none.
const PageFile* FindPageFile(std::string_view path);

}  // namespace web
