#include "platform/ui/surface.h"

#include <algorithm>
#include <cstdlib>

namespace platform {

void Surface::Resize(int width, int height, Color fill) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == width_ && height == height_) return;
    std::vector<std::uint32_t> resized(static_cast<std::size_t>(width) * height, Pack(fill));
    const int keep_w = std::min(width, width_);
    const int keep_h = std::min(height, height_);
    for (int y = 0; y < keep_h; ++y) {
        std::copy_n(Row(y), keep_w, resized.data() + static_cast<std::size_t>(y) * width);
    }
    pixels_ = std::move(resized);
    width_ = width;
    height_ = height;
}

void Surface::Fill(Color color) {
    std::fill(pixels_.begin(), pixels_.end(), Pack(color));
}

void Surface::DimToGrey(int left, int top, int width, int height) {
    const int x0 = std::max(left, 0);
    const int x1 = std::min(left + width, width_);
    for (int y = std::max(top, 0); y < std::min(top + height, height_); ++y) {
        std::uint32_t* row = Row(y);
        for (int x = x0; x < x1; ++x) {
            const Color c = Unpack(row[x]);
            // Luma weights in hundredths, then half the brightness over a dark floor.
            const int grey = (c.r * 30 + c.g * 59 + c.b * 11) / 100;
            const int dim = 32 + grey / 2;
            row[x] = Pack(Rgb(dim, dim, dim));
        }
    }
}

Color Surface::PixelAt(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return Color{};
    return Unpack(Row(y)[x]);
}

namespace {

// Destination columns are handled in runs of at most this many, with the source offset of each column
// worked out once per run rather than once per line.
constexpr int kRun = 1024;

// The byte offset in a source line of each destination column first..last-1 of the run: source column
// (i * src_width / span) counted from the rectangle's left edge.
void MapColumns(int first, int last, int src_width, int span, int* offsets) {
    long long acc = static_cast<long long>(first) * src_width;
    int q = static_cast<int>(acc / span);
    int r = static_cast<int>(acc % span);
    for (int i = first; i < last; ++i) {
        offsets[i - first] = q * 3;
        r += src_width;
        while (r >= span) {
            r -= span;
            ++q;
        }
    }
}

// Writes n pixels into out (the leftmost destination pixel of the run), left to right or mirrored.
inline std::uint32_t PixelAt(const std::uint8_t* p) {
    return 0xFF000000u | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | std::uint32_t{p[0]};
}

void DrawRun(std::uint32_t* out, const std::uint8_t* line, const int* offsets, int n, bool mirrored) {
    if (mirrored) {
        std::uint32_t* end = out + n;
        for (int k = 0; k < n; ++k) *--end = PixelAt(line + offsets[k]);
    } else {
        for (int k = 0; k < n; ++k) out[k] = PixelAt(line + offsets[k]);
    }
}

}  // namespace

int StretchDIBits(Surface& surface, int x_dest, int y_dest, int dest_width, int dest_height, int x_src,
                  int y_src, int src_width, int src_height, const void* bits,
                  const BitmapInfoHeader& header) {
    if (bits == nullptr || header.biBitCount != 24 || header.biWidth <= 0 || header.biHeight == 0) return 0;
    if (src_width <= 0 || src_height <= 0 || dest_width == 0 || dest_height == 0) return 0;
    const int bmp_w = header.biWidth;
    const int bmp_h = std::abs(header.biHeight);
    if (x_src < 0 || y_src < 0 || x_src + src_width > bmp_w || y_src + src_height > bmp_h) return 0;

    const bool bottom_up = header.biHeight > 0;
    const bool mirrored = dest_width < 0;
    const int span_w = std::abs(dest_width);
    const int span_h = std::abs(dest_height);
    const std::size_t stride = (static_cast<std::size_t>(bmp_w) * 3 + 3) & ~std::size_t{3};
    const auto* base = static_cast<const std::uint8_t*>(bits);

    // The destination columns (counted from x_dest, in drawing direction) that fall on the surface.
    const int first = mirrored ? std::max(0, x_dest - surface.Width()) : std::max(0, -x_dest);
    const int last = mirrored ? std::min(span_w, x_dest) : std::min(span_w, surface.Width() - x_dest);

    int offsets[kRun];
    for (int c0 = first; c0 < last; c0 += kRun) {
        const int c1 = std::min(last, c0 + kRun);
        const int n = c1 - c0;
        MapColumns(c0, c1, src_width, span_w, offsets);
        const int left = mirrored ? x_dest - c1 : x_dest + c0;  // leftmost surface column of the run
        int previous_row = -1;
        int previous_y = -1;
        for (int j = 0; j < span_h; ++j) {
            const int y = dest_height > 0 ? y_dest + j : y_dest - 1 - j;
            if (y < 0 || y >= surface.Height()) continue;
            // Line sj of the source rectangle counted from its top edge as the scene shows it; y_src counts
            // rows in storage order (from the bottom line for a bottom-up bitmap).
            const int sj = static_cast<int>(static_cast<long long>(j) * src_height / span_h);
            const int memory_row = bottom_up ? y_src + (src_height - 1 - sj) : y_src + sj;
            std::uint32_t* out = surface.Row(y) + left;
            if (memory_row == previous_row) {
                // A stretched picture repeats source lines: copy the line just drawn.
                std::copy_n(surface.Row(previous_y) + left, n, out);
            } else {
                const std::uint8_t* line = base + static_cast<std::size_t>(memory_row) * stride + x_src * 3;
                DrawRun(out, line, offsets, n, mirrored);
            }
            previous_row = memory_row;
            previous_y = y;
        }
    }
    return src_height;
}

}  // namespace platform
