// The motion detector on footage made from the sample pictures (motion_footage.h), at half and at full
// size: a moving object is found within three pictures of its entry and boxed; camera noise, slow drift, a
// light switched off and on, and specks raise nothing; the mask hides what it covers. Also the
// threshold's text, the mask file's errors, and that a picture allocates nothing.
#include "motion/motion_detector.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>
#include <iostream>

#include "allocation_counter.h"
#include "motion_footage.h"

namespace {

using footage::Script;

const char* const kBackgrounds[] = {"building", "butterfly", "coins", "fruits", "ihc"};
constexpr int kObjectEnters = 30;

Script WalkerScript(const char* background) {
    return {.background = background, .object_from = kObjectEnters, .object_to = 90};
}

class MotionFootage : public ::testing::TestWithParam<bool> {
  protected:
    motion::MotionSettings Settings() const {
        motion::MotionSettings settings;
        settings.half_size = GetParam();
        return settings;
    }

    // The pictures with motion raised, and the first one's number and box.
    int RunClip(const Script& script, const motion::MotionSettings& settings,
                const motion::MotionMask& mask = motion::MotionMask(), int* first = nullptr,
                motion::Box* box = nullptr) {
        footage::FootageMaker maker(script, STREAM_SAMPLES_DIR);
        EXPECT_TRUE(maker.Ok()) << maker.Error();
        motion::MotionDetector detector(settings, mask);
        int motion_pictures = 0;
        for (int i = 0; maker.Ok() && i < script.frames; ++i) {
            const motion::MotionResult result = detector.Process(maker.Next().data());
            if (result.motion && motion_pictures++ == 0 && first) *first = i, *box = result.box;
        }
        return motion_pictures;
    }
};

TEST_P(MotionFootage, MovingObjectIsFoundWithinThreePicturesAndBoxed) {
    int found = 0;
    for (const char* background : kBackgrounds) {
        int first = -1, x = 0, y = 0;
        motion::Box box;
        RunClip(WalkerScript(background), Settings(), motion::MotionMask(), &first, &box);
        EXPECT_TRUE(first >= kObjectEnters && first <= kObjectEnters + 3)
            << background << ": first at " << first;
        if (!footage::FootageMaker(WalkerScript(background), STREAM_SAMPLES_DIR).ObjectAt(first, &x, &y))
            continue;
        // The box starts at the object's corner, give or take a cell, and is no taller than the object.
        EXPECT_NEAR(box.x, x, 4) << background;
        EXPECT_NEAR(box.y, y, 4) << background;
        EXPECT_LE(box.h, footage::kObjectHeight + 4) << background;
        found += first - kObjectEnters <= 3;
    }
    std::cout << "moving object found within 3 pictures on " << found << " of 5 backgrounds\n";
}

// The threshold follows the measured noise: on a quiet camera a faint object is found, which a threshold
// fixed for a noisy one would miss.
TEST_P(MotionFootage, FaintObjectIsFoundOnAQuietCamera) {
    for (const char* background : kBackgrounds) {
        Script faint = WalkerScript(background);
        faint.noise_sigma = 1;
        faint.object_opacity = 0.15;
        int first = -1;
        motion::Box box;
        RunClip(faint, Settings(), motion::MotionMask(), &first, &box);
        EXPECT_TRUE(first >= kObjectEnters && first <= kObjectEnters + 3)
            << background << ": first at " << first;
    }
}

TEST_P(MotionFootage, NoiseDriftLightSwitchAndSpecksRaiseNothing) {
    const std::pair<const char*, Script> quiet_clips[] = {
        {"camera noise", {.frames = 200, .noise_sigma = 6}},
        {"daylight drift of 30 levels in 20 s", {.frames = 300, .drift_per_frame = 0.1}},
        {"light off and on", {.light_off_at = 40, .light_on_at = 80}},
        {"specks on 2% of the pixels", {.frames = 60, .specks_percent = 2}},
    };
    int false_pictures = 0;
    for (auto [what, script] : quiet_clips) {
        for (const char* background : kBackgrounds) {
            script.background = background;
            const int motion_pictures = RunClip(script, Settings());
            EXPECT_EQ(motion_pictures, 0) << what << " on " << background;
            false_pictures += motion_pictures;
        }
    }
    std::cout << "20 quiet clips: " << false_pictures << " pictures with false motion\n";
    // The specks are only dropped while despeckling is on.
    motion::MotionSettings speckled = Settings();
    speckled.despeckle = false;
    EXPECT_GT(RunClip(quiet_clips[3].second, speckled), 0);
}

TEST_P(MotionFootage, MaskHidesWhatItCovers) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("mask.pgm").toStdString();
    {
        // Black over the band the object walks through (rows 80 to 159), white elsewhere.
        std::ofstream out(path, std::ios::binary);
        out << "P5\n# the walker's band\n320 240\n255\n";
        for (int y = 0; y < 240; ++y) out << std::string(320, y >= 80 && y < 160 ? '\0' : '\xff');
    }
    motion::MotionMask mask;
    std::string error;
    ASSERT_TRUE(motion::ReadMotionMask(path, &mask, &error)) << error;
    EXPECT_EQ(mask.CountedPixels(), 320 * 160);
    EXPECT_EQ(RunClip(WalkerScript("building"), Settings(), mask), 0);
}

INSTANTIATE_TEST_SUITE_P(HalfAndFullSize, MotionFootage, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Half" : "Full"; });

TEST(MotionDetector, ProcessingAPictureAllocatesNothing) {
    footage::FootageMaker maker(WalkerScript("coins"), STREAM_SAMPLES_DIR);
    ASSERT_TRUE(maker.Ok()) << maker.Error();
    std::vector<footage::Picture> clip;
    for (int i = 0; i < 60; ++i) clip.push_back(maker.Next());
    motion::MotionDetector detector{motion::MotionSettings()};
    const long before = AllocationCount();
    int motion_pictures = 0;
    for (const footage::Picture& picture : clip) motion_pictures += detector.Process(picture.data()).motion;
    EXPECT_EQ(AllocationCount() - before, 0);
    EXPECT_GT(motion_pictures, 0);
}

TEST(MotionSettings, ThresholdTextIsACountOrAPercentage) {
    motion::MotionThreshold threshold;
    std::string error;
    for (const auto& [text, pixels] : {std::pair{"1500", 1500}, {"2%", 1536}, {"0.5%", 384}}) {
        ASSERT_TRUE(motion::ParseMotionThreshold(text, &threshold, &error)) << error;
        EXPECT_EQ(threshold.Pixels(), pixels) << text;
    }
    EXPECT_EQ(motion::MotionSettings().threshold.Pixels(), 768);  // the default, 1%
    for (const char* bad : {"", "%", "abc", "12px", "1.5", "0", "-3", "76801", "0%", "101%", "nan%", "2 %"}) {
        EXPECT_FALSE(motion::ParseMotionThreshold(bad, &threshold, &error)) << bad;
        EXPECT_EQ(error.rfind("motion threshold \"" + std::string(bad) + "\": ", 0), 0u) << error;
    }
}

TEST(MotionMask, BadFilesAreRefusedWithTheirReason) {
    motion::MotionMask mask;
    mask.SetCounted(5, 5, false);
    std::string error;
    for (const auto& [bytes, reason] : std::initializer_list<std::pair<std::string, std::string>>{
             {"P6\n320 240\n255\n", "not a PGM picture"},
             {"P5\n640 480\n255\n" + std::string(640 * 480, '\0'),
              "the picture is 640 x 480; a mask must be 320 x 240"},
             {"P5\n320 240\n255\n" + std::string(1000, '\0'), "the file ends before the last pixel"},
             {"P5\n320 240\n", "the PGM header is damaged"},
             {"P2\n320 240\n1\n0 1 1\n", "the file ends before the last pixel"}}) {
        EXPECT_FALSE(motion::ParseMotionMask(bytes, "m.pgm", &mask, &error)) << reason;
        EXPECT_EQ(error.rfind("motion mask m.pgm: " + reason, 0), 0u) << error;
    }
    EXPECT_FALSE(mask.Counted(5, 5)) << "a refused file changed the mask";
    EXPECT_FALSE(motion::ReadMotionMask("/nonexistent/m.pgm", &mask, &error));
    EXPECT_EQ(error, "motion mask /nonexistent/m.pgm: cannot open it: No such file or directory");

    // Plain P2 with a 16-bit maximum: only 0 is black.
    std::string plain = "P2\n# plain\n320 240\n65535\n0";
    for (int i = 1; i < 320 * 240; ++i) plain += " 65535";
    ASSERT_TRUE(motion::ParseMotionMask(plain, "m.pgm", &mask, &error)) << error;
    EXPECT_EQ(mask.CountedPixels(), 320 * 240 - 1);
    EXPECT_FALSE(mask.Counted(0, 0));
}

}  // namespace
