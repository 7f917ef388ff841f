// Making the motion footage.
#include "motion_footage.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>

#include "media/picture_file.h"
#include "media/picture_geometry.h"

namespace footage {
namespace {

constexpr std::size_t kNoiseTableSize = 1 << 20;
const char* const kObjectTexture = "fruits";  // the object is a piece of this picture
constexpr int kTextureX = 150, kTextureY = 80;

std::uint8_t* PixelAt(Picture& picture, int x, int y_from_top) {
    return &picture[static_cast<std::size_t>(media::kPictureHeight - 1 - y_from_top) *
                        media::kPictureRowBytes +
                    media::kPixelBytes * x];
}

std::uint8_t Clamp(double value) {
    return static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

}  // namespace

FootageMaker::FootageMaker(const Script& script, const std::string& samples_dir)
    : script_(script), frame_(media::kPictureBytes), noise_(kNoiseTableSize) {
    std::string error;
    if (!picture_file::ReadPicture(samples_dir + "/" + script.background + ".ppm", background_, &error) ||
        !picture_file::ReadPicture(samples_dir + "/" + kObjectTexture + ".ppm", object_texture_, &error)) {
        error_ = error;
    }
    std::normal_distribution<double> gaussian(0, script.noise_sigma);
    for (std::int8_t& n : noise_) {
        n = static_cast<std::int8_t>(std::clamp(std::lround(gaussian(random_)), -127L, 127L));
    }
}

double FootageMaker::Gain(int index) const {
    const auto ramp = [&](int at, double from, double to) {
        if (at < 0 || index < at) return from;
        return index == at ? (from + to) / 2 : to;  // over two frames, as a lamp or an exposure settles
    };
    if (script_.light_on_at >= 0 && index >= script_.light_on_at)
        return ramp(script_.light_on_at, script_.light_off_gain, 1);
    return ramp(script_.light_off_at, 1, script_.light_off_gain);
}

bool FootageMaker::ObjectAt(int index, int* x, int* y) const {
    if (index < script_.object_from || index >= script_.object_to) return false;
    const double t = script_.object_to - script_.object_from > 1
                         ? double(index - script_.object_from) / (script_.object_to - script_.object_from - 1)
                         : 0;
    *x = static_cast<int>(std::lround(script_.object_x0 + t * (script_.object_x1 - script_.object_x0)));
    *y = static_cast<int>(std::lround(script_.object_y0 + t * (script_.object_y1 - script_.object_y0)));
    return true;
}

const Picture& FootageMaker::Next() {
    ++index_;
    std::copy(background_.begin(), background_.end(), frame_.begin());
    int object_x = 0, object_y = 0;
    if (ObjectAt(index_, &object_x, &object_y)) {
        for (int y = 0; y < kObjectHeight; ++y) {
            for (int x = 0; x < kObjectWidth; ++x) {
                if (object_x + x >= media::kPictureWidth || object_y + y >= media::kPictureHeight) continue;
                const std::uint8_t* from = PixelAt(object_texture_, kTextureX + x, kTextureY + y);
                std::uint8_t* to = PixelAt(frame_, object_x + x, object_y + y);
                for (int c = 0; c < 3; ++c) {
                    to[c] = Clamp(to[c] + script_.object_opacity * (from[c] - to[c]));
                }
            }
        }
    }
    // Light and drift through a table of the 256 values, then the noise.
    std::array<int, 256> lit;
    for (int v = 0; v < 256; ++v)
        lit[v] = static_cast<int>(std::lround(v * Gain(index_) + script_.drift_per_frame * index_));
    std::size_t at = std::uniform_int_distribution<std::size_t>(0, kNoiseTableSize - frame_.size())(random_);
    for (std::uint8_t& value : frame_)
        value = static_cast<std::uint8_t>(std::clamp(lit[value] + noise_[at++], 0, 255));
    std::bernoulli_distribution speck(script_.specks_percent / 100), darker(0.5);
    if (script_.specks_percent > 0) {
        for (std::size_t pixel = 0; pixel < frame_.size(); pixel += 3) {
            if (!speck(random_)) continue;
            const double jump = darker(random_) ? -90 : 90;
            for (int c = 0; c < 3; ++c) frame_[pixel + c] = Clamp(frame_[pixel + c] + jump);
        }
    }
    return frame_;
}

bool WriteRawFootage(const Script& script, const std::string& samples_dir, const std::string& path,
                     std::string* error) {
    FootageMaker maker(script, samples_dir);
    if (!maker.Ok()) {
        *error = maker.Error();
        return false;
    }
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < script.frames && out; ++i) {
        const Picture& frame = maker.Next();
        for (int row = media::kPictureHeight - 1; row >= 0; --row) {
            out.write(reinterpret_cast<const char*>(
                          &frame[static_cast<std::size_t>(row) * media::kPictureRowBytes]),
                      media::kPictureRowBytes);
        }
    }
    out.close();
    if (!out) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace footage
