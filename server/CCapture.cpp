#include "server/CCapture.h"

#include <cstdio>

#include "platform/ui/controls.h"

namespace tessaly {

void CCapture::SetSource(std::string source, double fps) {
    source_ = std::move(source);
    fps_ = fps;
}

void CCapture::InitCapSize240(std::int32_t 左座標, std::int32_t 上座標) {
    Width = platform::kCaptureWidth;
    Height = platform::kCaptureHeight;
    X = 左座標;
    y = 上座標;
}

void CCapture::SerCapture(platform::Form& hWnd, FrameCallbackFn CapAddr) {
    hCapWin = hWnd.Find<platform::PictureBox>(kCaptureWindowName);
    if (hCapWin != nullptr) {
        hCapWin->Move(X, y, Width, Height);
        hCapWin->SetVisible(true);
    }
    driver_.SetFrameCallback([callback = std::move(CapAddr)](const platform::CaptureFrame& frame) {
        if (callback) callback(frame);
    });
    std::string error;
    if (!driver_.Start(source_, fps_, &error)) {
        std::fprintf(stderr, "tessaly: no pictures: %s\n", error.c_str());
    }
    fCapture = platform::kTrue;
}

void CCapture::EndCapture() {
    fCapture = platform::kFalse;
    driver_.Stop();
    driver_.SetFrameCallback({});
    hCapWin = nullptr;
}

void CCapture::PaintPreview(const std::uint8_t* bottom_up_bgr) const {
    if (!preview_painting_ || hCapWin == nullptr) return;
    platform::BitmapInfoHeader header;
    header.biWidth = platform::kCaptureWidth;
    header.biHeight = platform::kCaptureHeight;  // rows bottom-up: shown upright
    hCapWin->StretchDIBits(0, 0, Width, Height, 0, 0, platform::kCaptureWidth, platform::kCaptureHeight,
                           bottom_up_bgr, header);
}

}  // namespace tessaly
