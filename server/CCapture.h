// CCapture: the server's capture window over the platform capture driver. SerCapture shows the preview box
// inside the main window and starts the driver; every new picture reaches the frame callback on the window
// thread (Server::FrameCallback), which paints it into the preview box through PaintPreview.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/capture/capture.h"
#include "platform/window/window.h"

namespace platform {
class Form;
class PictureBox;
}  // namespace platform

namespace tessaly {

class CCapture {
  public:
    using FrameCallbackFn = std::function<std::int16_t(const platform::CaptureFrame&)>;

    // The name of the preview box that the main window provides for the capture window.
    static constexpr const char* kCaptureWindowName = "CapWin";

    platform::Flag fCapture = platform::kFalse;
    platform::PictureBox* hCapWin = nullptr;  // the preview box while capture runs
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::int32_t X = 0;
    std::int32_t y = 0;

    // Which source SerCapture starts (capture.h's texts) and at what rate the paced sources run.
    void SetSource(std::string source, double fps);
    const std::string& Source() const { return source_; }
    platform::CaptureDriver& Driver() { return driver_; }

    void InitCapSize240(std::int32_t 左座標, std::int32_t 上座標);
    // Places and shows the preview box of hWnd and starts the driver with CapAddr as its frame callback.
    // A source that cannot be started is reported once; the server then runs without pictures.
    void SerCapture(platform::Form& hWnd, FrameCallbackFn CapAddr);
    void EndCapture();

    // Shows a captured picture (320 x 240, BGR, rows bottom-up) in the preview box while capture runs.
    void PaintPreview(const std::uint8_t* bottom_up_bgr) const;
    // Whether PaintPreview paints (off when no window shows the preview).
    void SetPreviewPainting(bool on) { preview_painting_ = on; }

  private:
    platform::CaptureDriver driver_;
    std::string source_ = "auto";
    double fps_ = platform::kDefaultCaptureFps;
    bool preview_painting_ = true;
};

}  // namespace tessaly
