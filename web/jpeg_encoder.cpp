#include "web/jpeg_encoder.h"

#include <turbojpeg.h>

#include "platform/capture.h"

namespace web {

namespace {

constexpr int kWidth = platform::kCaptureWidth;
constexpr int kHeight = platform::kCaptureHeight;
constexpr int kSubsampling = TJSAMP_420;

}  // namespace

JpegEncoder::JpegEncoder(int quality) : handle_(tjInitCompress()), quality_(quality) {}

JpegEncoder::~JpegEncoder() {
    if (handle_ != nullptr) tjDestroy(handle_);
}

std::size_t JpegEncoder::MaxJpegBytes() {
    return tjBufSize(kWidth, kHeight, kSubsampling);
}

std::size_t JpegEncoder::Encode(const std::uint8_t* bottom_up_bgr, std::span<std::uint8_t> out) {
    if (handle_ == nullptr || out.size() < MaxJpegBytes()) return 0;
    unsigned char* buffer = out.data();
    unsigned long size = 0;
    // TJFLAG_BOTTOMUP turns the bottom-up rows upright; TJFLAG_NOREALLOC keeps the JPEG in our buffer.
    const int status = tjCompress2(handle_, bottom_up_bgr, kWidth, 0, kHeight, TJPF_BGR, &buffer, &size,
                                   kSubsampling, quality_, TJFLAG_BOTTOMUP | TJFLAG_NOREALLOC);
    return status == 0 ? size : 0;
}

}  // namespace web
