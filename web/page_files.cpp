#include "web/page_files.h"

namespace web {

namespace {

#include "page_files_data.inc"

}  // namespace

const PageFile* FindPageFile(std::string_view path) {
    if (path == "/") path = "/index.html";
    for (const PageFile& file : kPageFiles) {
        if (file.path == path) return &file;
    }
    return nullptr;
}

}  // namespace web
