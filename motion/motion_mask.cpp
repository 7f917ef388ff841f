// Reading the motion mask from PGM (P5 and P2).
#include "motion/motion_mask.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace motion {
namespace {

// Reads PGM's header fields and plain samples: whitespace and '#' comments between decimal numbers.
class PgmReader {
  public:
    explicit PgmReader(std::string_view bytes) : bytes_(bytes) {}

    bool Number(long* value) {
        SkipSpaceAndComments();
        if (pos_ >= bytes_.size() || !std::isdigit(static_cast<unsigned char>(bytes_[pos_]))) return false;
        long n = 0;
        while (pos_ < bytes_.size() && std::isdigit(static_cast<unsigned char>(bytes_[pos_]))) {
            n = std::min(n * 10 + (bytes_[pos_++] - '0'), 1000000L);
        }
        *value = n;
        return true;
    }
    // After the maximum value comes exactly one whitespace byte, then P5's samples.
    bool SkipOneSpace() {
        if (pos_ >= bytes_.size() || !std::isspace(static_cast<unsigned char>(bytes_[pos_]))) return false;
        ++pos_;
        return true;
    }
    std::string_view Rest() const { return bytes_.substr(pos_); }

  private:
    void SkipSpaceAndComments() {
        while (pos_ < bytes_.size()) {
            if (bytes_[pos_] == '#') {
                while (pos_ < bytes_.size() && bytes_[pos_] != '\n') ++pos_;
            } else if (std::isspace(static_cast<unsigned char>(bytes_[pos_]))) {
                ++pos_;
            } else {
                return;
            }
        }
    }

    std::string_view bytes_;
    std::size_t pos_ = 0;
};

bool Fail(const std::string& name, const std::string& why, std::string* error) {
    *error = "motion mask " + name + ": " + why;
    return false;
}

}  // namespace

MotionMask::MotionMask() : counted_(static_cast<std::size_t>(kWidth) * kHeight, 1) {}

int MotionMask::CountedPixels() const {
    return static_cast<int>(std::count(counted_.begin(), counted_.end(), 1));
}

bool ParseMotionMask(std::string_view bytes, const std::string& name, MotionMask* mask, std::string* error) {
    const bool binary = bytes.substr(0, 2) == "P5";
    if (!binary && bytes.substr(0, 2) != "P2") {
        return Fail(name, "not a PGM picture (it must start with P5 or P2)", error);
    }
    PgmReader reader(bytes.substr(2));
    long width = 0, height = 0, maximum = 0;
    if (!reader.Number(&width) || !reader.Number(&height) || !reader.Number(&maximum) || maximum < 1 ||
        maximum > 65535) {
        return Fail(name, "the PGM header is damaged", error);
    }
    if (width != MotionMask::kWidth || height != MotionMask::kHeight) {
        return Fail(name,
                    "the picture is " + std::to_string(width) + " x " + std::to_string(height) +
                        "; a mask must be 320 x 240",
                    error);
    }
    MotionMask read;
    const int sample_bytes = maximum > 255 ? 2 : 1;
    if (binary && !reader.SkipOneSpace()) return Fail(name, "the PGM header is damaged", error);
    const std::string_view samples = reader.Rest();
    if (binary && samples.size() < std::size_t{MotionMask::kWidth} * MotionMask::kHeight * sample_bytes) {
        return Fail(name, "the file ends before the last pixel", error);
    }
    for (int y = 0; y < MotionMask::kHeight; ++y) {
        for (int x = 0; x < MotionMask::kWidth; ++x) {
            long value = 0;
            if (binary) {
                const std::size_t at = (static_cast<std::size_t>(y) * MotionMask::kWidth + x) * sample_bytes;
                value = static_cast<unsigned char>(samples[at]);
                if (sample_bytes == 2) value = value << 8 | static_cast<unsigned char>(samples[at + 1]);
            } else if (!reader.Number(&value)) {
                return Fail(name, "the file ends before the last pixel (or holds a value that is no number)",
                            error);
            }
            read.SetCounted(x, y, value != 0);
        }
    }
    *mask = std::move(read);
    return true;
}

bool ReadMotionMask(const std::string& path, MotionMask* mask, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return Fail(path, std::string("cannot open it: ") + std::strerror(errno), error);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) return Fail(path, "cannot read it", error);
    return ParseMotionMask(bytes, path, mask, error);
}

}  // namespace motion
