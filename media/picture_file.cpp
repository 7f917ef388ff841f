#include "media/picture_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

namespace picture_file {
namespace {

constexpr int kRowBytes = kWidth * 3;
constexpr size_t kBmpHeaderBytes = 54;

std::string SizeError(const std::string& path, long width, long height) {
    return path + ": the picture is " + std::to_string(width) + " x " + std::to_string(height) +
           "; only 320 x 240 pictures are supported";
}

// Copies rows from top-down order (or back), swapping red and blue: PPM holds red, green, blue.
void FlipRowsSwappingRedBlue(const uint8_t* from, uint8_t* to) {
    for (int y = 0; y < kHeight; ++y) {
        const uint8_t* src = from + y * kRowBytes;
        uint8_t* dst = to + (kHeight - 1 - y) * kRowBytes;
        for (int x = 0; x < kWidth; ++x) {
            dst[3 * x] = src[3 * x + 2];
            dst[3 * x + 1] = src[3 * x + 1];
            dst[3 * x + 2] = src[3 * x];
        }
    }
}

uint32_t Read32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint16_t Read16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

// Reads the next header field of a PPM: a decimal number after white space and comments.
bool PpmNumber(std::span<const uint8_t> bytes, size_t& pos, long& value) {
    while (pos < bytes.size()) {
        if (bytes[pos] == '#') {
            while (pos < bytes.size() && bytes[pos] != '\n') ++pos;
        } else if (std::isspace(bytes[pos])) {
            ++pos;
        } else {
            break;
        }
    }
    if (pos >= bytes.size() || !std::isdigit(bytes[pos])) return false;
    value = 0;
    while (pos < bytes.size() && std::isdigit(bytes[pos]) && value < 1'000'000)
        value = value * 10 + (bytes[pos++] - '0');
    return true;
}

bool DecodePpm(const std::string& path, std::span<const uint8_t> bytes, std::vector<uint8_t>& picture,
               std::string* error) {
    if (bytes.size() < 2 || bytes[0] != 'P' || bytes[1] != '6') {
        *error = path + ": not a binary PPM file (P6)";
        return false;
    }
    size_t pos = 2;
    long width = 0, height = 0, maximum = 0;
    if (!PpmNumber(bytes, pos, width) || !PpmNumber(bytes, pos, height) || !PpmNumber(bytes, pos, maximum) ||
        pos >= bytes.size() || !std::isspace(bytes[pos])) {
        *error = path + ": the PPM header is damaged";
        return false;
    }
    ++pos;  // the single white-space byte before the samples
    if (width != kWidth || height != kHeight) {
        *error = SizeError(path, width, height);
        return false;
    }
    if (maximum != 255) {
        *error = path + ": only PPM files with 8-bit samples (maximum 255) are supported";
        return false;
    }
    if (bytes.size() - pos < kPictureBytes) {
        *error = path + ": the file ends before the picture does";
        return false;
    }
    picture.resize(kPictureBytes);
    FlipRowsSwappingRedBlue(bytes.data() + pos, picture.data());
    return true;
}

bool DecodeBmp(const std::string& path, std::span<const uint8_t> bytes, std::vector<uint8_t>& picture,
               std::string* error) {
    if (bytes.size() < kBmpHeaderBytes || bytes[0] != 'B' || bytes[1] != 'M' || Read32(&bytes[14]) < 40) {
        *error = path + ": not a Windows bitmap file";
        return false;
    }
    const uint32_t offset = Read32(&bytes[10]);
    const auto width = static_cast<int32_t>(Read32(&bytes[18]));
    const auto height = static_cast<int32_t>(Read32(&bytes[22]));
    if (Read16(&bytes[28]) != 24 || Read32(&bytes[30]) != 0) {
        *error = path + ": only 24-bit uncompressed bitmaps are supported";
        return false;
    }
    // Compared both ways round: the magnitude of the smallest int32 height does not exist.
    if (width != kWidth || (height != kHeight && height != -kHeight)) {
        *error = SizeError(path, width, std::abs(static_cast<long>(height)));
        return false;
    }
    if (offset > bytes.size() || bytes.size() - offset < kPictureBytes) {
        *error = path + ": the file ends before the picture does";
        return false;
    }
    picture.assign(bytes.begin() + offset, bytes.begin() + offset + static_cast<long>(kPictureBytes));
    if (height < 0) {  // stored top-down: bring the bottom row first
        for (int y = 0; y < kHeight / 2; ++y) {
            std::swap_ranges(picture.begin() + y * kRowBytes, picture.begin() + (y + 1) * kRowBytes,
                             picture.begin() + (kHeight - 1 - y) * kRowBytes);
        }
    }
    return true;
}

std::vector<uint8_t> EncodePpm(std::span<const uint8_t> picture) {
    const std::string header = "P6\n320 240\n255\n";
    std::vector<uint8_t> bytes(header.begin(), header.end());
    bytes.resize(header.size() + kPictureBytes);
    FlipRowsSwappingRedBlue(picture.data(), bytes.data() + header.size());
    return bytes;
}

}  // namespace

Format FormatOf(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return Format::kUnknown;
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    if (ext == "bgr") return Format::kBgr;
    if (ext == "ppm") return Format::kPpm;
    if (ext == "bmp") return Format::kBmp;
    return Format::kUnknown;
}

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes, std::string* error) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) {
        *error = path + ": cannot open (" + std::strerror(errno) + ")";
        return false;
    }
    bytes.clear();
    uint8_t chunk[65536];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    if (std::ferror(file.get())) {
        *error = path + ": cannot read (" + std::strerror(errno) + ")";
        return false;
    }
    return true;
}

bool WriteFileBytes(const std::string& path, std::span<const uint8_t> bytes, std::string* error) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!file) {
        *error = path + ": cannot create (" + std::strerror(errno) + ")";
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    FILE* raw = file.release();
    if (std::fclose(raw) != 0 || !written) {
        *error = path + ": cannot write (" + std::strerror(errno) + ")";
        return false;
    }
    return true;
}

bool ReadPicture(const std::string& path, std::vector<uint8_t>& picture, std::string* error) {
    const Format format = FormatOf(path);
    if (format == Format::kUnknown) {
        *error = path + ": unknown picture type (use a .bgr, .ppm or .bmp file)";
        return false;
    }
    std::vector<uint8_t> bytes;
    return ReadFileBytes(path, bytes, error) && DecodePicture(path, format, bytes, &picture, error);
}

bool DecodePicture(const std::string& name, Format format, std::span<const uint8_t> bytes,
                   std::vector<uint8_t>* picture, std::string* error) {
    if (format == Format::kPpm) return DecodePpm(name, bytes, *picture, error);
    if (format == Format::kBmp) return DecodeBmp(name, bytes, *picture, error);
    if (format == Format::kUnknown) {
        *error = name + ": unknown picture type (use a .bgr, .ppm or .bmp file)";
        return false;
    }
    if (bytes.size() != kPictureBytes) {
        *error = name + ": " + std::to_string(bytes.size()) + " bytes; a .bgr picture holds exactly 230400";
        return false;
    }
    picture->assign(bytes.begin(), bytes.end());
    return true;
}

bool WritePicture(const std::string& path, std::span<const uint8_t> picture, std::string* error) {
    if (picture.size() < kPictureBytes) {
        *error = path + ": the picture buffer is too small";
        return false;
    }
    switch (FormatOf(path)) {
        case Format::kBgr:
            return WriteFileBytes(path, picture.first(kPictureBytes), error);
        case Format::kPpm:
            return WriteFileBytes(path, EncodePpm(picture), error);
        case Format::kBmp:
            return WriteFileBytes(path, SnapshotBmp(picture), error);
        case Format::kUnknown:
            break;
    }
    *error = path + ": unknown picture type (use a .bgr, .ppm or .bmp file)";
    return false;
}

std::vector<uint8_t> SnapshotBmp(std::span<const uint8_t> buffer) {
    std::vector<uint8_t> file(kSnapshotBytes, 0);
    uint8_t* h = file.data();
    h[0] = 'B', h[1] = 'M';
    Put32(h + 2, 230454);  // 54 + 320 x 240 x 3
    Put32(h + 10, 54);
    Put32(h + 14, 40);
    Put32(h + 18, kWidth);
    Put32(h + 22, kHeight);  // positive: rows bottom-up
    Put16(h + 26, 1);
    Put16(h + 28, 24);
    Put32(h + 34, 230401);  // the whole picture buffer, one byte more than the picture
    const size_t copied = std::min(buffer.size(), kSnapshotBytes - kBmpHeaderBytes);
    std::copy_n(buffer.begin(), copied, file.begin() + kBmpHeaderBytes);
    return file;
}

namespace {

struct Colour {
    int r, g, b;
};

// The builtin picture's colour at scene position (x, y), y = 0 at the top.
Colour BuiltinColour(int x, int y) {
    static constexpr Colour kBars[8] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                                        {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};
    if (y < 80) return kBars[x / 40];
    if (y < 120 && x < 160) {
        const int v = x * 255 / 159;  // grey ramp
        return {v, v, v};
    }
    if (y < 160 && x < 160) return {x * 255 / 159, (y - 120) * 255 / 39, 255 - x * 255 / 159};  // colour ramp
    if (y < 160) {
        const int size = x < 213 ? 1 : x < 266 ? 2 : 4;  // checkerboards of 1, 2 and 4 pixels
        const int v = ((x / size + y / size) % 2) ? 230 : 25;
        return {v, v, v};
    }
    // A soft disc on a dark blue ground, crossed by thin lines, beside a hard-edged white square.
    if (x >= 250 && x < 300 && y >= 175 && y < 225) return {255, 255, 255};
    if (x % 20 == 0 || y == 200) return {255, 220, 0};
    const double d = std::hypot(x - 120.0, y - 200.0);
    const int glow = static_cast<int>(std::max(0.0, 255.0 - d * 6.0));
    return {glow, glow / 2, std::max(60, glow)};
}

}  // namespace

std::vector<uint8_t> BuiltinPicture() {
    std::vector<uint8_t> picture(kPictureBytes);
    for (int y = 0; y < kHeight; ++y) {
        uint8_t* row = &picture[(kHeight - 1 - y) * kRowBytes];  // buffer order: bottom row first
        for (int x = 0; x < kWidth; ++x) {
            const Colour c = BuiltinColour(x, y);
            row[3 * x] = static_cast<uint8_t>(c.b);
            row[3 * x + 1] = static_cast<uint8_t>(c.g);
            row[3 * x + 2] = static_cast<uint8_t>(c.r);
        }
    }
    return picture;
}

}  // namespace picture_file
