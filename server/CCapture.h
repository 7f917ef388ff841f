// CCapture: the server's capture window over the platform capture driver. SerCapture shows the preview box
// inside the main window and starts the driver; every new picture reaches the frame callback on the window
// thread. FrameCallback copies it into CapBuf, shows it in the preview and, while a receiver is connected,
// compresses it into PressBuf, the frame that requests are answered with (frame_pacing.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/capture.h"
#include "platform/window.h"

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

  private:
    platform::CaptureDriver driver_;
    std::string source_ = "auto";
    double fps_ = platform::kDefaultCaptureFps;
};

// The single capture object.
CCapture& Capture();
void ResetCapture();

// The frame callback: copies, previews and (while fEncode is set) compresses one picture. Returns 0.
std::int16_t FrameCallback(const platform::CaptureFrame& frame);
// Whether FrameCallback paints the preview box (off when no window shows it).
void SetPreviewPainting(bool on);

}  // namespace tessaly
