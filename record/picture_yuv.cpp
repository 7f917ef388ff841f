#include "record/picture_yuv.h"

namespace record {
namespace {

// BT.601 limited range in 8-bit fixed point.
std::uint8_t Luma(int r, int g, int b) {
    return static_cast<std::uint8_t>(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
}
std::uint8_t BlueDifference(int r, int g, int b) {
    return static_cast<std::uint8_t>(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128);
}
std::uint8_t RedDifference(int r, int g, int b) {
    return static_cast<std::uint8_t>(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128);
}

}  // namespace

void BgrToYuv420(const std::uint8_t* bgr_bottom_up, std::uint8_t* yuv) {
    std::uint8_t* luma = yuv;
    std::uint8_t* u = yuv + kLumaBytes;
    std::uint8_t* v = u + kChromaBytes;
    for (int cy = 0; cy < kChromaHeight; ++cy) {
        // Scene rows 2cy and 2cy + 1 (top-down) are buffer rows counted from the bottom.
        const std::uint8_t* upper =
            bgr_bottom_up + std::size_t(kLumaHeight - 1 - 2 * cy) * media::kPictureRowBytes;
        const std::uint8_t* lower = upper - media::kPictureRowBytes;
        std::uint8_t* luma_upper = luma + std::size_t(2 * cy) * kLumaWidth;
        std::uint8_t* luma_lower = luma_upper + kLumaWidth;
        for (int cx = 0; cx < kChromaWidth; ++cx) {
            int r = 0, g = 0, b = 0;
            for (int dx = 0; dx < 2; ++dx) {
                const int x = 2 * cx + dx;
                const std::uint8_t* p = upper + 3 * x;
                const std::uint8_t* q = lower + 3 * x;
                luma_upper[x] = Luma(p[2], p[1], p[0]);
                luma_lower[x] = Luma(q[2], q[1], q[0]);
                b += p[0] + q[0];
                g += p[1] + q[1];
                r += p[2] + q[2];
            }
            r = (r + 2) / 4;
            g = (g + 2) / 4;
            b = (b + 2) / 4;
            u[std::size_t(cy) * kChromaWidth + cx] = BlueDifference(r, g, b);
            v[std::size_t(cy) * kChromaWidth + cx] = RedDifference(r, g, b);
        }
    }
}

}  // namespace record
