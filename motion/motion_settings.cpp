// Parsing the motion threshold's text.
#include "motion/motion_settings.h"

#include <charconv>
#include <cmath>

#include "media/picture_geometry.h"

namespace motion {
namespace {

constexpr int kPicturePixels = media::kPictureWidth * media::kPictureHeight;

bool Fail(std::string_view text, const char* why, std::string* error) {
    *error = "motion threshold \"" + std::string(text) + "\": " + why +
             " (give a pixel count such as 1500 or a percentage such as 2%)";
    return false;
}

}  // namespace

int MotionThreshold::Pixels() const {
    if (unit == Unit::kPixels) return static_cast<int>(value);
    return static_cast<int>(std::lround(value / 100.0 * kPicturePixels));
}

bool ParseMotionThreshold(std::string_view text, MotionThreshold* threshold, std::string* error) {
    const bool percent = !text.empty() && text.back() == '%';
    const std::string_view number = percent ? text.substr(0, text.size() - 1) : text;
    if (number.empty()) return Fail(text, "no number", error);
    double value = 0;
    const auto [end, status] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (status != std::errc() || end != number.data() + number.size() || !std::isfinite(value)) {
        return Fail(text, "not a number", error);
    }
    if (percent) {
        if (value <= 0 || value > 100)
            return Fail(text, "a percentage must be above 0 and at most 100", error);
        *threshold = {MotionThreshold::Unit::kPercent, value};
        return true;
    }
    if (value != std::floor(value)) return Fail(text, "a pixel count must be a whole number", error);
    if (value < 1 || value > kPicturePixels) {
        return Fail(text, "a pixel count must be from 1 to 76800", error);
    }
    *threshold = {MotionThreshold::Unit::kPixels, value};
    return true;
}

}  // namespace motion
