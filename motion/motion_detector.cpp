// The motion detector's per-picture work: brightness, classification against the background, light
// switches, despeckling and counting.
#include "motion/motion_detector.h"

#include <algorithm>
#include <cstdlib>

#include "media/picture_geometry.h"

namespace motion {
namespace {

constexpr int kOne = 256;  // one brightness level in the fixed-point planes
constexpr int kThresholdFloor = 4 * kOne;
constexpr int kNoiseFactor = 3;
constexpr int kStartNoise = 2 * kOne;
constexpr int kBackgroundShift = 5;         // 1/32 a picture where nothing changed
constexpr int kChangedBackgroundShift = 9;  // 1/512 where something did
constexpr int kNoiseShift = 6;              // the noise level's memory, about 64 pictures
constexpr int kLearnBackgroundShift = 1;
constexpr int kLearnNoiseShift = 2;
constexpr int kDespeckleNeighbours = 4;  // changed cells in a 3 x 3 neighbourhood that make a cell stay

// value moved towards target by 1 / 2^shift, rounded to the nearest step.
MotionResult Learning() {
    MotionResult result;
    result.learning = true;
    return result;
}

inline int Approach(int value, int target, int shift) {
    return value + ((target - value + (1 << (shift - 1))) >> shift);
}

}  // namespace

Box Union(const Box& a, const Box& b) {
    if (a.Empty()) return b;
    if (b.Empty()) return a;
    const int left = std::min(a.x, b.x), top = std::min(a.y, b.y);
    const int right = std::max(a.x + a.w, b.x + b.w), bottom = std::max(a.y + a.h, b.y + b.h);
    return {left, top, right - left, bottom - top};
}

MotionDetector::MotionDetector(const MotionSettings& settings, const MotionMask& mask)
    : scale_(settings.half_size ? 2 : 1),
      width_(media::kPictureWidth / scale_),
      height_(media::kPictureHeight / scale_),
      frames_(std::max(1, settings.frames)),
      threshold_pixels_(settings.threshold.Pixels()),
      despeckle_(settings.despeckle),
      lightswitch_percent_(settings.lightswitch_percent),
      brightness_(static_cast<std::size_t>(width_) * height_),
      background_(brightness_.size()),
      noise_(brightness_.size()),
      counted_(brightness_.size()),
      changed_(static_cast<std::size_t>(width_ + 2) * (height_ + 2)),
      column_sums_(static_cast<std::size_t>(width_ + 2)) {
    // A cell counts only when every picture pixel in it counts.
    for (int y = 0; y < height_; ++y) {
        for (int x = 0; x < width_; ++x) {
            bool counted = true;
            for (int dy = 0; dy < scale_; ++dy) {
                for (int dx = 0; dx < scale_; ++dx)
                    counted = counted && mask.Counted(x * scale_ + dx, y * scale_ + dy);
            }
            counted_[static_cast<std::size_t>(y) * width_ + x] = counted ? 1 : 0;
            counted_cells_ += counted ? 1 : 0;
        }
    }
}

MotionResult MotionDetector::Process(const std::uint8_t* picture) {
    ExtractBrightness(picture);
    if (learning_left_ < 0) StartLearning();
    if (learning_left_ > 0) {
        Learn();
        --learning_left_;
        run_ = 0;
        return Learning();
    }
    const int changed = Classify();
    if (static_cast<long>(changed) * 100 > static_cast<long>(lightswitch_percent_) * counted_cells_) {
        ++light_switches_;
        StartLearning();
        run_ = 0;
        return Learning();
    }
    MotionResult result = Count();
    run_ = result.changed_pixels > threshold_pixels_ ? run_ + 1 : 0;
    result.motion = run_ >= frames_;
    return result;
}

// Brightness (0.114 B + 0.587 G + 0.299 R) of each grid cell, rows turned top-down.
void MotionDetector::ExtractBrightness(const std::uint8_t* picture) {
    for (int y = 0; y < height_; ++y) {
        std::uint16_t* out = &brightness_[static_cast<std::size_t>(y) * width_];
        const std::uint8_t* row = picture + static_cast<std::size_t>(media::kPictureHeight - 1 - y * scale_) *
                                                media::kPictureRowBytes;
        if (scale_ == 1) {
            for (int x = 0; x < width_; ++x) {
                const std::uint8_t* p = row + 3 * x;
                out[x] = static_cast<std::uint16_t>(29 * p[0] + 150 * p[1] + 77 * p[2]);
            }
            continue;
        }
        const std::uint8_t* below = row - media::kPictureRowBytes;
        for (int x = 0; x < width_; ++x) {
            const std::uint8_t* a = row + 6 * x;
            const std::uint8_t* b = below + 6 * x;
            const int blue = a[0] + a[3] + b[0] + b[3];
            const int green = a[1] + a[4] + b[1] + b[4];
            const int red = a[2] + a[5] + b[2] + b[5];
            out[x] = static_cast<std::uint16_t>((29 * blue + 150 * green + 77 * red) >> 2);
        }
    }
}

void MotionDetector::StartLearning() {
    std::copy(brightness_.begin(), brightness_.end(), background_.begin());
    std::fill(noise_.begin(), noise_.end(), static_cast<std::uint16_t>(kStartNoise));
    learning_left_ = kLearnPictures;
}

// Learning: the background follows quickly and every cell's noise is measured.
void MotionDetector::Learn() {
    for (std::size_t i = 0; i < brightness_.size(); ++i) {
        const int difference = std::abs(brightness_[i] - background_[i]);
        noise_[i] = static_cast<std::uint16_t>(Approach(noise_[i], difference, kLearnNoiseShift));
        background_[i] =
            static_cast<std::uint16_t>(Approach(background_[i], brightness_[i], kLearnBackgroundShift));
    }
}

// Marks the changed cells (inside the border of changed_), moves the background and the noise on, and
// returns how many counted cells changed.
int MotionDetector::Classify() {
    int changed_cells = 0;
    for (int y = 0; y < height_; ++y) {
        const std::size_t row = static_cast<std::size_t>(y) * width_;
        std::uint8_t* changed = &changed_[static_cast<std::size_t>(y + 1) * (width_ + 2) + 1];
        for (int x = 0; x < width_; ++x) {
            const std::size_t i = row + x;
            const int difference = std::abs(brightness_[i] - background_[i]);
            const bool over = difference > kThresholdFloor + kNoiseFactor * noise_[i];
            const int shift = over ? kChangedBackgroundShift : kBackgroundShift;
            background_[i] = static_cast<std::uint16_t>(Approach(background_[i], brightness_[i], shift));
            if (!over) noise_[i] = static_cast<std::uint16_t>(Approach(noise_[i], difference, kNoiseShift));
            const std::uint8_t mark = over && counted_[i] ? 1 : 0;
            changed[x] = mark;
            changed_cells += mark;
        }
    }
    return changed_cells;
}

// Counts the changed cells that survive despeckling and the box around them.
MotionResult MotionDetector::Count() {
    const int stride = width_ + 2;
    int cells = 0;
    int left = width_, right = -1, top = height_, bottom = -1;
    for (int y = 1; y <= height_; ++y) {
        const std::uint8_t* middle = &changed_[static_cast<std::size_t>(y) * stride];
        if (despeckle_) {
            const std::uint8_t* above = middle - stride;
            const std::uint8_t* below = middle + stride;
            for (int x = 0; x < stride; ++x) {
                column_sums_[x] = static_cast<std::uint8_t>(above[x] + middle[x] + below[x]);
            }
        }
        int row_cells = 0, row_left = width_, row_right = -1;
        for (int x = 1; x <= width_; ++x) {
            if (!middle[x]) continue;
            if (despeckle_ &&
                column_sums_[x - 1] + column_sums_[x] + column_sums_[x + 1] < kDespeckleNeighbours) {
                continue;
            }
            ++row_cells;
            row_left = std::min(row_left, x - 1);
            row_right = x - 1;
        }
        if (row_cells == 0) continue;
        cells += row_cells;
        left = std::min(left, row_left);
        right = std::max(right, row_right);
        top = std::min(top, y - 1);
        bottom = y - 1;
    }
    MotionResult result;
    result.changed_pixels = cells * scale_ * scale_;
    if (cells > 0) {
        result.box = {left * scale_, top * scale_, (right - left + 1) * scale_, (bottom - top + 1) * scale_};
    }
    return result;
}

}  // namespace motion
