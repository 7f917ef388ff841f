// Pictures for the codec tests: 320 x 240, blue, green, red, rows in buffer order.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace pictures {

using Picture = std::vector<uint8_t>;
constexpr int kWidth = 320, kHeight = 240;
constexpr size_t kBytes = 230400;

struct Pixel {
    uint8_t b, g, r;
};

inline Picture Paint(const std::function<Pixel(int x, int y)>& colour) {
    Picture p(kBytes);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const Pixel c = colour(x, y);
            uint8_t* at = &p[3 * (y * kWidth + x)];
            at[0] = c.b, at[1] = c.g, at[2] = c.r;
        }
    }
    return p;
}

inline Picture Flat(uint8_t b, uint8_t g, uint8_t r) {
    return Paint([=](int, int) { return Pixel{b, g, r}; });
}

inline Picture Gradients() {
    return Paint([](int x, int y) {
        return Pixel{static_cast<uint8_t>(x * 255 / 319), static_cast<uint8_t>(y * 255 / 239),
                     static_cast<uint8_t>((x + y) * 255 / 558)};
    });
}

inline Picture Noise(uint32_t seed) {
    std::mt19937 random(seed);
    Picture p(kBytes);
    for (uint8_t& byte : p) byte = static_cast<uint8_t>(random());
    return p;
}

// 16 x 16 areas of pure blue, pure red, black and white in turn: chrominance at its extremes.
inline Picture SaturatedAreas() {
    return Paint([](int x, int y) {
        switch ((x / 16 + y / 16) % 4) {
            case 0:
                return Pixel{255, 0, 0};
            case 1:
                return Pixel{0, 0, 255};
            case 2:
                return Pixel{0, 0, 0};
            default:
                return Pixel{255, 255, 255};
        }
    });
}

// One-pixel checkerboard on the left half, thin lines on the right.
inline Picture FineDetail() {
    return Paint([](int x, int y) {
        const bool on = x < 160 ? (x + y) % 2 == 0 : (x % 3 == 0 || y % 5 == 0);
        const uint8_t v = on ? 255 : 0;
        return Pixel{v, static_cast<uint8_t>(255 - v), v};
    });
}

// Black above, white below a horizontal edge after row `offset` of every block row (1..7), and in
// alternate block columns white above, black below: full contrast at every split inside a block.
inline Picture HorizontalEdges(int offset) {
    return Paint([=](int x, int y) {
        const bool lower = y % 8 >= offset;
        const bool white = (x / 8) % 2 == 0 ? lower : !lower;
        const uint8_t v = white ? 255 : 0;
        return Pixel{v, v, v};
    });
}

// Every block a random mix of the eight lowest cosine patterns of the given amplitude, on alternating
// dark and bright levels: every kept coefficient large, so frames come out near or over their limit.
inline Picture LowFrequencyBlocks(double amplitude, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<int> signs(1200 * 9);
    for (int& s : signs) s = (random() & 1) ? 1 : -1;
    const double pi = std::acos(-1.0);
    return Paint([&](int x, int y) {
        const int block = (y / 8) * 40 + x / 8;
        double value = block % 2 ? 188 : 68;
        for (int u = 0; u < 3; ++u) {
            for (int v = 0; v < 3; ++v) {
                if (u == 0 && v == 0) continue;
                value += amplitude * signs[block * 9 + u * 3 + v] * std::cos(pi * (y % 8 + 0.5) * u / 8) *
                         std::cos(pi * (x % 8 + 0.5) * v / 8);
            }
        }
        const auto level = static_cast<uint8_t>(std::lround(std::clamp(value, 0.0, 255.0)));
        return Pixel{level, level, level};
    });
}

// A binary PPM of 320 x 240, rows reversed into buffer order (the buffer holds the bottom row first).
inline Picture LoadPpm(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int width = 0, height = 0, maximum = 0;
    in >> magic >> width >> height >> maximum;
    in.get();
    Picture top_down(kBytes);
    in.read(reinterpret_cast<char*>(top_down.data()), static_cast<std::streamsize>(kBytes));
    if (magic != "P6" || width != kWidth || height != kHeight || !in) return {};
    Picture p(kBytes);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const uint8_t* rgb = &top_down[3 * (y * kWidth + x)];
            uint8_t* bgr = &p[3 * ((kHeight - 1 - y) * kWidth + x)];
            bgr[0] = rgb[2], bgr[1] = rgb[1], bgr[2] = rgb[0];
        }
    }
    return p;
}

inline std::vector<std::filesystem::path> SamplePaths() {
    std::vector<std::filesystem::path> paths;
    for (const char* name : {"building", "butterfly", "coins", "fruits", "ihc"}) {
        paths.push_back(std::filesystem::path(STREAM_SAMPLES_DIR) / (std::string(name) + ".ppm"));
    }
    return paths;
}

}  // namespace pictures
