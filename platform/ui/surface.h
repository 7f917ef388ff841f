// A pixel surface in plain memory and the one drawing call the programs need: a 24-bit device-independent
// bitmap stretched into a rectangle of it, mirrored by a negative width, as StretchDIBits draws.
#pragma once

#include <cstdint>
#include <vector>

namespace platform {

struct Color {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    friend bool operator==(const Color&, const Color&) = default;
};

constexpr Color Rgb(int r, int g, int b) {
    return Color{static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g), static_cast<std::uint8_t>(b)};
}

// The 40-byte header that describes a device-independent bitmap, field for field as it is stored in a
// bitmap file (little-endian). Painting reads biWidth, biHeight (positive: rows bottom-up; negative:
// top-down) and biBitCount (24 is the only depth drawn).
struct BitmapInfoHeader {
    std::uint32_t biSize = 40;
    std::int32_t biWidth = 0;
    std::int32_t biHeight = 0;
    std::uint16_t biPlanes = 1;
    std::uint16_t biBitCount = 24;
    std::uint32_t biCompression = 0;
    std::uint32_t biSizeImage = 0;
    std::int32_t biXPelsPerMeter = 0;
    std::int32_t biYPelsPerMeter = 0;
    std::uint32_t biClrUsed = 0;
    std::uint32_t biClrImportant = 0;
};
static_assert(sizeof(BitmapInfoHeader) == 40);

// Width x height pixels, row 0 at the top, each pixel 0xFFRRGGBB (the layout of a 32-bit RGB image).
class Surface {
  public:
    static constexpr std::uint32_t Pack(Color c) {
        return 0xFF000000u | (std::uint32_t{c.r} << 16) | (std::uint32_t{c.g} << 8) | c.b;
    }
    static constexpr Color Unpack(std::uint32_t p) {
        return Rgb((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }

    // Changes the size, keeping the pixels that still fit and filling new ones with fill.
    void Resize(int width, int height, Color fill);
    void Fill(Color color);
    // Turns the pixels of a rectangle (clipped to the surface) grey and darker, so that a picture left
    // there reads as old.
    void DimToGrey(int left, int top, int width, int height);

    int Width() const { return width_; }
    int Height() const { return height_; }
    const std::uint32_t* Pixels() const { return pixels_.data(); }
    std::uint32_t* Row(int y) { return pixels_.data() + static_cast<std::size_t>(y) * width_; }
    const std::uint32_t* Row(int y) const { return pixels_.data() + static_cast<std::size_t>(y) * width_; }
    // The pixel at (x, y); black outside the surface.
    Color PixelAt(int x, int y) const;

  private:
    std::vector<std::uint32_t> pixels_;
    int width_ = 0;
    int height_ = 0;
};

// Draws a source rectangle of a 24-bit bitmap into a destination rectangle of the surface (see
// PictureBox::StretchDIBits); pixels outside the surface are skipped. Returns the source lines used.
int StretchDIBits(Surface& surface, int x_dest, int y_dest, int dest_width, int dest_height, int x_src,
                  int y_src, int src_width, int src_height, const void* bits, const BitmapInfoHeader& header);

}  // namespace platform
