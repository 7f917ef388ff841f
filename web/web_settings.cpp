#include "web/web_settings.h"

#include <fstream>

namespace web {

namespace {

constexpr std::size_t kMaxLineBytes = 4096;

}  // namespace

bool LoadPasswordFile(const std::string& path, Credentials* credentials, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read the password file " + path;
        return false;
    }
    std::string line;
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t colon = line.find(':');
    if (line.size() > kMaxLineBytes || colon == std::string::npos || colon == 0 || colon + 1 == line.size()) {
        *error = "the password file " + path + " must begin with a line USER:PASSWORD";
        return false;
    }
    credentials->user = line.substr(0, colon);
    credentials->password = line.substr(colon + 1);
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
