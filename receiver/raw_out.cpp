#include "receiver/raw_out.h"

#include <cerrno>
#include <cstring>

namespace receiver {

namespace {
constexpr std::size_t kRowBytes = 320 * 3;
constexpr int kRows = 240;
}  // namespace

RawOut::~RawOut() {
    Close();
}

bool RawOut::Open(const std::string& path, std::string* error) {
    Close();
    if (path == "-") {
        file_ = stdout;
        is_stdout_ = true;
        return true;
    }
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) {
        *error = path + ": cannot create (" + std::strerror(errno) + ")";
        return false;
    }
    return true;
}

bool RawOut::Write(const std::uint8_t* picture, std::string* error) {
    if (file_ == nullptr) return false;
    bool same = written_;
    for (int row = 0; row < kRows && same; ++row) {
        same = std::memcmp(top_down_.data() + static_cast<std::size_t>(row) * kRowBytes,
                           picture + static_cast<std::size_t>(kRows - 1 - row) * kRowBytes, kRowBytes) == 0;
    }
    if (same) return true;
    for (int row = 0; row < kRows; ++row) {
        std::memcpy(top_down_.data() + static_cast<std::size_t>(row) * kRowBytes,
                    picture + static_cast<std::size_t>(kRows - 1 - row) * kRowBytes, kRowBytes);
    }
    written_ = true;
    if (std::fwrite(top_down_.data(), 1, top_down_.size(), file_) == top_down_.size() &&
        std::fflush(file_) == 0)
        return true;
    *error = std::string("raw picture output stopped: ") + std::strerror(errno);
    Close();
    return false;
}

void RawOut::Close() {
    if (file_ != nullptr && !is_stdout_) std::fclose(file_);
    file_ = nullptr;
    is_stdout_ = false;
    written_ = false;
}

}  // namespace receiver
