// The motion detector's settings as the server's command line gives them, with their defaults, and the
// parser of the threshold's text. Standard library only.
//
//   --motion-threshold N|P%   changed pixels that make a picture a motion picture: a count ("1500") or a
//                             percentage of the whole 320 x 240 picture ("2%", "0.5%"); default 1%
//   --motion-frames N         motion pictures in a row before motion is raised; default 3
//   --motion-despeckle on|off isolated changed pixels are dropped before counting; default on
//   --motion-lightswitch P    a picture in which more than P percent of the counted area changes is a light
//                             switched on or off (or an exposure jump): the background is learnt again and
//                             nothing is raised; default 50
//   --motion-mask FILE        a 320 x 240 PGM whose black pixels are never counted (motion_mask.h)
#pragma once

#include <string>
#include <string_view>

namespace motion {

// How many changed pixels make a motion picture; the count is exceeded, not merely reached.
struct MotionThreshold {
    enum class Unit { kPixels, kPercent };
    Unit unit = Unit::kPercent;
    double value = 1.0;

    // The threshold as a pixel count of the 320 x 240 picture.
    int Pixels() const;
};

struct MotionSettings {
    MotionThreshold threshold;
    int frames = 3;
    bool despeckle = true;
    int lightswitch_percent = 50;
    std::string mask_path;  // empty: every pixel is counted
    // Whether the detector looks at the picture halved (160 x 120 means of 2 x 2 pixels) rather than at
    // full size: as reliable on the test footage and a quarter of the work (bench/motion_bench.cpp).
    bool half_size = true;
};

// Reads a threshold: a whole count of pixels from 1 to 76,800, or a percentage above 0 and at most 100
// with a '%' sign. On failure returns false and sets *error to one line naming the problem.
bool ParseMotionThreshold(std::string_view text, MotionThreshold* threshold, std::string* error);

}  // namespace motion
