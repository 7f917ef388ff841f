// Raw frames as a capture source: 320 x 240 BGR24 pictures back to back, top-down (the order ffmpeg's
// rawvideo output has), from a file that is played in a loop or from standard input (raw:-).
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/capture/capture.h"
#include "platform/capture/timestamp.h"

namespace platform {
namespace {

constexpr int kPollMs = 200;

class RawSource final : public CaptureSource {
  public:
    RawSource(std::string path, double fps)
        : path_(std::move(path)), fps_(fps), staging_(kCaptureFrameBytes) {}
    ~RawSource() override { Close(); }

    std::string Name() const override { return path_ == "-" ? "raw:- (standard input)" : "raw:" + path_; }

    bool Open(std::string* error) override {
        Close();
        filled_ = 0;
        if (path_ == "-") {
            if (fcntl(0, F_GETFD) < 0) {
                *error = "standard input is closed";
                return false;
            }
            fd_ = 0;
            looping_ = false;
            return true;
        }
        fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) {
            *error = std::string("cannot open it: ") + std::strerror(errno);
            return false;
        }
        struct stat st {};
        looping_ = fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
        if (looping_ && st.st_size < static_cast<off_t>(kCaptureFrameBytes)) {
            *error = "the file holds no whole 320 x 240 BGR24 frame (" + std::to_string(st.st_size) +
                     " bytes; one frame is 230400)";
            Close();
            return false;
        }
        return true;
    }

    CaptureRead Read(std::uint8_t* frame, std::int64_t* capture_micros) override {
        int rewinds = 0;
        while (filled_ < kCaptureFrameBytes) {
            if (!looping_ && !Readable()) return CaptureRead::kNoFrame;
            const ssize_t n = ::read(fd_, staging_.data() + filled_, kCaptureFrameBytes - filled_);
            if (n > 0) {
                filled_ += static_cast<std::size_t>(n);
            } else if (n == 0 && looping_ && rewinds++ == 0) {
                // End of the file: start it again; a partial frame at its end is dropped.
                lseek(fd_, 0, SEEK_SET);
                filled_ = 0;
            } else if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
                return CaptureRead::kNoFrame;
            } else {
                return CaptureRead::kEnded;  // end of a stream, a read error, or a file that shrank
            }
        }
        filled_ = 0;
        FlipRows(staging_.data(), frame);
        *capture_micros = MonotonicMicros();
        return CaptureRead::kFrame;
    }

    void Close() override {
        if (fd_ > 0) ::close(fd_);  // standard input stays open
        fd_ = -1;
    }

    double PacedFps() const override { return fps_; }

  private:
    bool Readable() const {
        pollfd p{fd_, POLLIN, 0};
        return poll(&p, 1, kPollMs) > 0;
    }

    std::string path_;
    double fps_;
    std::vector<std::uint8_t> staging_;  // one top-down frame as it is read
    std::size_t filled_ = 0;
    int fd_ = -1;
    bool looping_ = false;
};

}  // namespace

std::unique_ptr<CaptureSource> MakeRawSource(const std::string& path, double fps) {
    return std::make_unique<RawSource>(path, fps);
}

}  // namespace platform
