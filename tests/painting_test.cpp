#include <gtest/gtest.h>

#include <vector>

#include "platform/ui/controls.h"

using namespace platform;

namespace {

constexpr int kW = 320;
constexpr int kH = 240;

// A bottom-up picture whose every pixel tells where it is: B = column low bits, G = row, R = column / 256
// and a flag, so any misplaced pixel shows.
std::vector<std::uint8_t> CoordinatePicture() {
    std::vector<std::uint8_t> pic(kW * kH * 3 + 1);
    for (int row = 0; row < kH; ++row) {
        for (int x = 0; x < kW; ++x) {
            std::uint8_t* p = &pic[(row * kW + x) * 3];
            p[0] = static_cast<std::uint8_t>(x & 0xFF);
            p[1] = static_cast<std::uint8_t>(row);
            p[2] = static_cast<std::uint8_t>(0x80 | (x >> 8));
        }
    }
    return pic;
}

Color SourceColor(int x, int row) {
    return Rgb(0x80 | (x >> 8), row, x & 0xFF);
}

BitmapInfoHeader Header(int height = kH) {
    BitmapInfoHeader h;
    h.biWidth = kW;
    h.biHeight = height;
    return h;
}

}  // namespace

TEST(Painting, MirroredAtTheSmallSizeFillsExactlyItsRectangle) {
    Form form("F");
    PictureBox& box = form.AddPictureBox("Picture2", {0, 0, 365, 277});
    box.SetBackColor(Rgb(1, 2, 3));
    box.Cls();
    const auto pic = CoordinatePicture();
    // The receiver's 320X240 call: x = 20 - (-320), width -320.
    EXPECT_EQ(box.StretchDIBits(340, 20, -320, 240, 0, 0, 320, 240, pic.data(), Header()), 240);
    const Surface& s = box.GetSurface();
    for (int row : {0, 1, 120, 239}) {
        for (int x : {0, 1, 160, 318, 319}) {
            // Column x lands at 339 - x; bottom-up row r is scene line 239 - r.
            EXPECT_EQ(s.PixelAt(20 + 319 - x, 20 + 239 - row), SourceColor(x, row)) << x << "," << row;
        }
    }
    for (int y : {19, 260}) EXPECT_EQ(s.PixelAt(100, y), Rgb(1, 2, 3));
    for (int x : {19, 340}) EXPECT_EQ(s.PixelAt(x, 100), Rgb(1, 2, 3));
}

TEST(Painting, MirroredAndDoubledAtTheLargeSize) {
    Form form("F");
    PictureBox& box = form.AddPictureBox("Picture2", {0, 0, 661, 501});
    box.Cls();
    const auto pic = CoordinatePicture();
    EXPECT_EQ(box.StretchDIBits(650, 10, -640, 480, 0, 0, 320, 240, pic.data(), Header()), 240);
    const Surface& s = box.GetSurface();
    for (int row : {0, 100, 239}) {
        for (int x : {0, 7, 319}) {
            const int left = 10 + 2 * (319 - x);
            const int top = 10 + 2 * (239 - row);
            for (int dx = 0; dx < 2; ++dx) {
                for (int dy = 0; dy < 2; ++dy) {
                    EXPECT_EQ(s.PixelAt(left + dx, top + dy), SourceColor(x, row)) << x << "," << row;
                }
            }
        }
    }
    EXPECT_EQ(s.PixelAt(9, 10), Color{});
    EXPECT_EQ(s.PixelAt(650, 10), Color{});
    EXPECT_EQ(s.PixelAt(10, 490), Color{});
}

TEST(Painting, UprightUnmirroredAndTopDownSources) {
    Form form("F");
    PictureBox& box = form.AddPictureBox("Picture2", {0, 0, 320, 240});
    const auto pic = CoordinatePicture();
    box.StretchDIBits(0, 0, 320, 240, 0, 0, 320, 240, pic.data(), Header());
    EXPECT_EQ(box.GetSurface().PixelAt(5, 0), SourceColor(5, 239));  // top line = last stored row
    // A negative height in the header means the rows are stored top-down.
    box.StretchDIBits(0, 0, 320, 240, 0, 0, 320, 240, pic.data(), Header(-kH));
    EXPECT_EQ(box.GetSurface().PixelAt(5, 0), SourceColor(5, 0));
    // A part of the source, shrunk: every second column and line.
    box.Cls();
    box.StretchDIBits(0, 0, 160, 120, 0, 0, 320, 240, pic.data(), Header(-kH));
    EXPECT_EQ(box.GetSurface().PixelAt(10, 10), SourceColor(20, 20));
    EXPECT_EQ(box.GetSurface().PixelAt(160, 10), Color{});
}

TEST(Painting, DestinationsPartlyOutsideAreClippedAndBadCallsDrawNothing) {
    Form form("F");
    PictureBox& box = form.AddPictureBox("Picture2", {0, 0, 100, 50});
    box.Cls();
    const auto pic = CoordinatePicture();
    int pictures = 0;
    box.Subscribe([&](Property p) { pictures += p == Property::kPicture; });
    // Wider and taller than the surface, starting left of and above it, mirrored.
    box.StretchDIBits(300, 30, -640, -480, 0, 0, 320, 240, pic.data(), Header());
    EXPECT_EQ(pictures, 1);
    box.StretchDIBits(-700, -700, 320, 240, 0, 0, 320, 240, pic.data(), Header());  // wholly outside
    BitmapInfoHeader deep = Header();
    deep.biBitCount = 32;
    const Color before = box.GetSurface().PixelAt(0, 0);
    EXPECT_EQ(box.StretchDIBits(0, 0, 10, 10, 0, 0, 320, 240, nullptr, Header()), 0);
    EXPECT_EQ(box.StretchDIBits(0, 0, 10, 10, 0, 0, 320, 240, pic.data(), deep), 0);
    EXPECT_EQ(box.StretchDIBits(0, 0, 10, 10, 10, 0, 320, 240, pic.data(), Header()),
              0);  // beyond the bitmap
    EXPECT_EQ(box.StretchDIBits(0, 0, 0, 10, 0, 0, 320, 240, pic.data(), Header()), 0);
    EXPECT_EQ(box.GetSurface().PixelAt(0, 0), before);
    EXPECT_EQ(pictures, 2);
}

TEST(Painting, ResizingKeepsWhatFitsAndClsUsesTheBackColour) {
    Form form("F");
    PictureBox& box = form.AddPictureBox("Picture2", {0, 0, 661, 501});
    EXPECT_EQ(box.GetSurface().Width(), 661);
    box.SetBackColor(Rgb(192, 192, 255));
    box.Cls();
    const auto pic = CoordinatePicture();
    box.StretchDIBits(650, 10, -640, 480, 0, 0, 320, 240, pic.data(), Header());
    const Color kept = box.GetSurface().PixelAt(20, 20);
    box.Move(0, 0, 365, 277);
    EXPECT_EQ(box.GetSurface().Width(), 365);
    EXPECT_EQ(box.GetSurface().Height(), 277);
    EXPECT_EQ(box.GetSurface().PixelAt(20, 20), kept);
    box.Move(0, 0, 700, 501);
    EXPECT_EQ(box.GetSurface().PixelAt(690, 5), Rgb(192, 192, 255));
    box.Cls();
    EXPECT_EQ(box.GetSurface().PixelAt(20, 20), Rgb(192, 192, 255));
}
