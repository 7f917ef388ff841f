// The motion detector: fed every captured picture (320 x 240 BGR24, rows bottom-up,
// media/picture_geometry.h), it tells how many pixels changed against a learnt background, where, and whether
// that is motion. Standard library only; Process neither allocates nor waits (every buffer is made by the
// constructor).
//
// How it decides, per picture:
// - It looks at brightness, halved to 160 x 120 means of 2 x 2 pixels unless the settings ask for full size.
// - The background learns slowly: 1/32 a picture where nothing changed, 1/512 where something did, so that a
//   parked car is taken in after half a minute or so while a walker is not, and daylight is followed.
// - Each pixel's threshold is a floor plus three times that pixel's own measured noise (the running mean of
//   its absolute difference from the background, learnt where nothing changed), so a noisy camera or a
//   flickering area needs a larger change than a quiet one.
// - Isolated changed pixels (fewer than four changed in their 3 x 3 neighbourhood) are dropped when
//   despeckling is on, and masked pixels are never counted.
// - More than the light-switch percentage of the counted area changed at once is a light switched on or off
//   or an exposure jump: the background is learnt again and nothing is raised.
// - Motion is raised while the changed pixels have exceeded the threshold in `frames` pictures in a row.
// After construction and after each light switch the background is learnt for a few pictures (kLearnPictures)
// in which nothing is raised.
#pragma once

#include <cstdint>
#include <vector>

#include "motion/motion_mask.h"
#include "motion/motion_settings.h"

namespace motion {

// A rectangle of the scene: x from the left, y from the top row (not the buffer's bottom-up order).
// Empty when w or h is 0.
struct Box {
    int x = 0, y = 0, w = 0, h = 0;
    bool Empty() const { return w <= 0 || h <= 0; }
    bool operator==(const Box&) const = default;
};
// The smallest box that holds both (an empty box adds nothing).
Box Union(const Box& a, const Box& b);

struct MotionResult {
    int changed_pixels = 0;  // counted changed pixels, in pixels of the 320 x 240 picture
    Box box;                 // around them; empty when none changed
    bool motion = false;     // motion is raised for this picture
    bool learning = false;   // the background is being learnt (start, light switch): nothing counted
};

class MotionDetector {
  public:
    static constexpr int kLearnPictures = 8;

    MotionDetector(const MotionSettings& settings, const MotionMask& mask);
    explicit MotionDetector(const MotionSettings& settings) : MotionDetector(settings, MotionMask()) {}

    // One picture of media::kPictureBytes.
    MotionResult Process(const std::uint8_t* picture);
    // Forget the background and learn it from the next pictures (a camera that changed, say).
    void Relearn() { learning_left_ = -1; }

    // Light switches (and exposure jumps) seen so far, for a status line.
    long LightSwitches() const { return light_switches_; }

  private:
    void ExtractBrightness(const std::uint8_t* picture);
    void StartLearning();
    void Learn();
    int Classify();
    MotionResult Count();

    int scale_;  // 1 or 2: picture pixels per grid cell, each way
    int width_;  // the grid's size
    int height_;
    int frames_;
    int threshold_pixels_;
    bool despeckle_;
    int lightswitch_percent_;
    int counted_cells_ = 0;
    // Per grid cell, rows top-down; brightness, background and noise in 1/256 of a brightness level.
    std::vector<std::uint16_t> brightness_;
    std::vector<std::uint16_t> background_;
    std::vector<std::uint16_t> noise_;
    std::vector<std::uint8_t> counted_;
    // Changed cells with a border of one unchanged cell all round; and one row of 3-cell column sums.
    std::vector<std::uint8_t> changed_;
    std::vector<std::uint8_t> column_sums_;
    int learning_left_ = -1;  // -1: the next picture starts learning
    int run_ = 0;             // motion pictures in a row
    long light_switches_ = 0;
};

}  // namespace motion
