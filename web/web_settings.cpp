#include "web/web_settings.h"

#include <filesystem>
#include <fstream>

namespace web {

namespace {

constexpr std::size_t kMaxLineBytes = 4096;
constexpr std::uintmax_t kMaxFileBytes = 64 * 1024;

// The first line of the file, reading at most kMaxLineBytes + 2 bytes whatever the file is (a device or a
// pipe has no size to check first).
bool ReadFirstLine(std::ifstream& in, std::string* line) {
    std::string head(kMaxLineBytes + 2, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    const std::size_t end = head.find('\n');
    if (end == std::string::npos && head.size() > kMaxLineBytes + 1) return false;
    *line = head.substr(0, end);
    if (!line->empty() && line->back() == '\r') line->pop_back();
    return line->size() <= kMaxLineBytes;
}

}  // namespace

bool LoadPasswordFile(const std::string& path, Credentials* credentials, std::string* error) {
    namespace fs = std::filesystem;
    std::error_code failed;
    const fs::file_status status = fs::status(path, failed);
    if (!failed && fs::is_regular_file(status) && fs::file_size(path, failed) > kMaxFileBytes) {
        *error = "the password file " + path + " is too big (one line USER:PASSWORD is enough)";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read the password file " + path;
        return false;
    }
    std::string line;
    const bool fits = ReadFirstLine(in, &line);
    const std::size_t colon = line.find(':');
    if (!fits || colon == std::string::npos || colon == 0 || colon + 1 == line.size()) {
        *error = "the password file " + path + " must begin with a line USER:PASSWORD";
        return false;
    }
    credentials->user = line.substr(0, colon);
    credentials->password = line.substr(colon + 1);
    credentials->file = path;
    credentials->others_can_read =
        fs::is_regular_file(status) && (status.permissions() & fs::perms::others_read) != fs::perms::none;
    return true;
}

bool ConstantTimeEquals(const std::string& a, const std::string& b) {
    // Every byte of the longer text is looked at, whatever the shorter one holds.
    const std::size_t n = a.size() > b.size() ? a.size() : b.size();
    unsigned difference = a.size() == b.size() ? 0u : 1u;
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
        const unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
        difference |= static_cast<unsigned>(x ^ y);
    }
    return difference == 0;
}

}  // namespace web
