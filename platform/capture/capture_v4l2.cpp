// Cameras through libv4l2, which converts whatever the camera delivers to BGR24. The picture is asked for
// at 320 x 240; a camera that only offers other sizes is scaled to 320 x 240 here (nearest pixel). Rows
// are turned bottom-up on the way.
#include <memory>
#include <string>

#include "platform/capture/capture.h"

#ifdef STREAM_HAVE_V4L2

#include <fcntl.h>
#include <libv4l2.h>
#include <linux/videodev2.h>
#include <sys/select.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/capture/timestamp.h"

namespace platform {
namespace {

constexpr int kWaitMs = 200;

// Scales a top-down BGR24 picture of any size to 320 x 240 by taking the nearest pixel, storing the rows
// bottom-up.
void ScaleToFrame(const std::uint8_t* src, int width, int height, int stride, std::uint8_t* frame) {
    for (int y = 0; y < kCaptureHeight; ++y) {
        const std::uint8_t* line = src + static_cast<std::size_t>(y * height / kCaptureHeight) * stride;
        std::uint8_t* out = frame + static_cast<std::size_t>(kCaptureHeight - 1 - y) * kCaptureWidth * 3;
        for (int x = 0; x < kCaptureWidth; ++x) {
            const std::uint8_t* p = line + static_cast<std::size_t>(x * width / kCaptureWidth) * 3;
            out[x * 3] = p[0];
            out[x * 3 + 1] = p[1];
            out[x * 3 + 2] = p[2];
        }
    }
}

int Ioctl(int fd, unsigned long request, void* arg) {
    int r;
    do {
        r = v4l2_ioctl(fd, request, arg);
    } while (r < 0 && errno == EINTR);
    return r;
}

class V4l2Source final : public CaptureSource {
  public:
    explicit V4l2Source(std::string device) : device_(std::move(device)) {}
    ~V4l2Source() override { Close(); }

    std::string Name() const override { return "camera " + device_; }

    bool Open(std::string* error) override {
        Close();
        fd_ = v4l2_open(device_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) {
            *error = std::strerror(errno);
            return false;
        }
        if (!CheckCapabilities(error) || !SetFormat(error)) {
            Close();
            return false;
        }
        SetFrameRate();
        return true;
    }

    CaptureRead Read(std::uint8_t* frame, std::int64_t* capture_micros) override {
        fd_set fds;
        FD_ZERO(&fds);
        FD_SET(fd_, &fds);
        timeval tv{0, kWaitMs * 1000};
        const int ready = select(fd_ + 1, &fds, nullptr, nullptr, &tv);
        if (ready == 0 || (ready < 0 && errno == EINTR)) return CaptureRead::kNoFrame;
        if (ready < 0) return CaptureRead::kLost;
        const ssize_t n = v4l2_read(fd_, buffer_.data(), buffer_.size());
        if (n < 0) return (errno == EAGAIN || errno == EINTR) ? CaptureRead::kNoFrame : CaptureRead::kLost;
        if (static_cast<std::size_t>(n) < static_cast<std::size_t>(stride_) * height_)
            return CaptureRead::kNoFrame;
        *capture_micros = MonotonicMicros();
        ScaleToFrame(buffer_.data(), width_, height_, stride_, frame);
        return CaptureRead::kFrame;
    }

    void Close() override {
        if (fd_ >= 0) v4l2_close(fd_);
        fd_ = -1;
    }

    double PacedFps() const override { return 0; }
    bool Reopens() const override { return true; }

  private:
    bool CheckCapabilities(std::string* error) {
        v4l2_capability cap{};
        if (Ioctl(fd_, VIDIOC_QUERYCAP, &cap) < 0) {
            *error = std::string("not a video device: ") + std::strerror(errno);
            return false;
        }
        const unsigned caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
        if (!(caps & V4L2_CAP_VIDEO_CAPTURE)) {
            *error = "the device does not capture video";
            return false;
        }
        return true;
    }

    bool SetFormat(std::string* error) {
        v4l2_format fmt{};
        fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        fmt.fmt.pix.width = kCaptureWidth;
        fmt.fmt.pix.height = kCaptureHeight;
        fmt.fmt.pix.pixelformat = V4L2_PIX_FMT_BGR24;
        fmt.fmt.pix.field = V4L2_FIELD_ANY;
        if (Ioctl(fd_, VIDIOC_S_FMT, &fmt) < 0) {
            *error = std::string("cannot set the picture format: ") + std::strerror(errno);
            return false;
        }
        if (fmt.fmt.pix.pixelformat != V4L2_PIX_FMT_BGR24 || fmt.fmt.pix.width == 0 ||
            fmt.fmt.pix.height == 0) {
            *error = "the camera offers no picture format that converts to BGR24";
            return false;
        }
        width_ = static_cast<int>(fmt.fmt.pix.width);
        height_ = static_cast<int>(fmt.fmt.pix.height);
        stride_ = std::max(static_cast<int>(fmt.fmt.pix.bytesperline), width_ * 3);
        buffer_.assign(static_cast<std::size_t>(stride_) * height_, 0);
        return true;
    }

    void SetFrameRate() {  // a wish: cameras that cannot do 15 per second keep their own rate
        v4l2_streamparm parm{};
        parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        parm.parm.capture.timeperframe.numerator = 1;
        parm.parm.capture.timeperframe.denominator = static_cast<unsigned>(kDefaultCaptureFps);
        Ioctl(fd_, VIDIOC_S_PARM, &parm);
    }

    std::string device_;
    int fd_ = -1;
    int width_ = 0;
    int height_ = 0;
    int stride_ = 0;
    std::vector<std::uint8_t> buffer_;  // one picture as the camera delivers it, sized at open
};

}  // namespace

std::unique_ptr<CaptureSource> MakeV4l2Source(const std::string& device) {
    return std::make_unique<V4l2Source>(device);
}

}  // namespace platform

#else

namespace platform {

std::unique_ptr<CaptureSource> MakeV4l2Source(const std::string&) {
    return nullptr;
}

}  // namespace platform

#endif
