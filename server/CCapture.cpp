#include "server/CCapture.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "codec/CCODEC.h"
#include "platform/controls.h"
#include "server/frame_pacing.h"
#include "server/server_module.h"
#include "server/web_link.h"

namespace tessaly {

namespace {

std::unique_ptr<CCapture>& TheCapture() {
    static std::unique_ptr<CCapture> capture;
    return capture;
}

bool preview_painting = true;

void PaintPreview(const CCapture& capture) {
    if (!preview_painting || capture.hCapWin == nullptr) return;
    platform::BitmapInfoHeader header;
    header.biWidth = platform::kCaptureWidth;
    header.biHeight = platform::kCaptureHeight;  // rows bottom-up: shown upright
    capture.hCapWin->StretchDIBits(0, 0, capture.Width, capture.Height, 0, 0, platform::kCaptureWidth,
                                   platform::kCaptureHeight, CapBuf.data(), header);
}

}  // namespace

CCapture& Capture() {
    if (!TheCapture()) TheCapture() = std::make_unique<CCapture>();
    return *TheCapture();
}

void ResetCapture() {
    TheCapture().reset();
    preview_painting = true;
}

void SetPreviewPainting(bool on) {
    preview_painting = on;
}

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

std::int16_t FrameCallback(const platform::CaptureFrame& frame) {
    CCapture& capture = Capture();
    if (capture.fCapture == platform::kFalse || frame.data == nullptr) return 0;
    const std::size_t n = std::min(frame.length, CapBuf.size());
    std::copy_n(frame.data, n, CapBuf.begin());
    PaintPreview(capture);
    OfferPictureToWeb(CapBuf.data(), frame.capture_micros);
    if (fEncode == platform::kFalse) return 0;
    // A frame the codec refuses leaves the previous one in PressBuf, and no request is answered for it.
    if (Codec().EncodeDCTPress(CapBuf, PressBuf) == 0) PictureCompressed();
    return 0;
}

}  // namespace tessaly
