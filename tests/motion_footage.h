// Footage for the motion tests and benchmark, made from a real picture (the samples' PPM files) with
// synthetic camera noise, slow brightness drift, a light switched off and on, impulse specks and a moving
// textured object, so that the pictures in which motion happens are known exactly. Frames are the
// capture's pictures (BGR, rows bottom-up); WriteRawFootage writes them as `--capture raw:FILE` reads them
// (top-down), for tests that feed the server.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace footage {

using Picture = std::vector<std::uint8_t>;

// What happens in a clip; frame numbers count from 0, -1 leaves a thing out.
struct Script {
    std::string background = "building";  // a sample picture's name
    int frames = 120;
    double noise_sigma = 3;      // camera noise, brightness levels, on every pixel of every frame
    double specks_percent = 0;   // pixels per frame hit by an isolated impulse of +-90 levels
    double drift_per_frame = 0;  // brightness levels added per frame (daylight)
    int light_off_at = -1;       // the light goes off over two frames from here...
    int light_on_at = -1;        // ...and on again over two frames from here
    double light_off_gain = 0.35;
    int object_from = -1;               // a 40 x 60 textured object is in the picture from this frame...
    int object_to = -1;                 // ...up to and without this one,
    int object_x0 = 0, object_y0 = 90;  // moving in a straight line between these top-left corners
    int object_x1 = 280, object_y1 = 90;
    double object_opacity = 1;  // below 1 the object is blended into the background: a faint one
};

inline constexpr int kObjectWidth = 40;
inline constexpr int kObjectHeight = 60;

class FootageMaker {
  public:
    // samples_dir holds <name>.ppm; Ok() is false (and Error() says why) when a picture cannot be read.
    FootageMaker(const Script& script, const std::string& samples_dir);
    bool Ok() const { return error_.empty(); }
    const std::string& Error() const { return error_; }

    // The next frame; valid until the next call.
    const Picture& Next();
    int FrameIndex() const { return index_; }  // of the frame Next returned last
    // Where the object is in frame `index` (top-left corner, y from the top), if it is there.
    bool ObjectAt(int index, int* x, int* y) const;

  private:
    double Gain(int index) const;

    Script script_;
    std::string error_;
    Picture background_;
    Picture object_texture_;
    Picture frame_;
    std::vector<std::int8_t> noise_;  // a table of Gaussian noise read from random offsets
    std::mt19937 random_{12345};
    int index_ = -1;
};

// Writes the script's frames top-down, back to back. False with *error when a picture or the file fails.
bool WriteRawFootage(const Script& script, const std::string& samples_dir, const std::string& path,
                     std::string* error);

}  // namespace footage
