// The motion detector on footage made from the sample pictures (motion_footage.h), at half and at full
// size: a moving object is found within three pictures of its entry and boxed; camera noise, slow drift, a
// light switched off and on, and specks (while despeckling) raise nothing; the mask hides what it covers.
// Also the threshold's text, the mask file's errors, and that a picture allocates nothing.
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

struct Outcome {
    int motion_pictures = 0;
    int first_motion = -1;  // the first picture with motion raised
    motion::Box box_at_first;
};

Outcome RunClip(const Script& script, const motion::MotionSettings& settings,
                const motion::MotionMask& mask = motion::MotionMask()) {
    footage::FootageMaker maker(script, STREAM_SAMPLES_DIR);
    EXPECT_TRUE(maker.Ok()) << maker.Error();
    motion::MotionDetector detector(settings, mask);
    Outcome outcome;
    for (int i = 0; maker.Ok() && i < script.frames; ++i) {
        const motion::MotionResult result = detector.Process(maker.Next().data());
        if (!result.motion) continue;
        if (outcome.motion_pictures++ == 0) {
            outcome.first_motion = i;
            outcome.box_at_first = result.box;
        }
    }
    return outcome;
}

Script WalkerScript(const char* background) {
    Script script;
    script.background = background;
    script.object_from = kObjectEnters;
    script.object_to = 90;
    return script;
}

class MotionFootage : public ::testing::TestWithParam<bool> {
  protected:
    motion::MotionSettings Settings() const {
        motion::MotionSettings settings;
        settings.half_size = GetParam();
        return settings;
    }
    // Every background must raise no motion at all with this script.
    void ExpectQuiet(Script script) {
        int false_pictures = 0;
        for (const char* background : kBackgrounds) {
            script.background = background;
            const Outcome outcome = RunClip(script, Settings());
            EXPECT_EQ(outcome.motion_pictures, 0) << background << ": first at " << outcome.first_motion;
            false_pictures += outcome.motion_pictures;
        }
        std::cout << "quiet clips on 5 backgrounds: " << false_pictures << " pictures with false motion\n";
    }
};

TEST_P(MotionFootage, MovingObjectIsFoundWithinThreePicturesAndBoxed) {
    int found = 0, total_delay = 0;
    for (const char* background : kBackgrounds) {
        const Outcome outcome = RunClip(WalkerScript(background), Settings());
        const bool in_time =
            outcome.first_motion >= kObjectEnters && outcome.first_motion <= kObjectEnters + 3;
        EXPECT_TRUE(in_time) << background << ": first motion at " << outcome.first_motion;
        // The object's top-left corner at that picture lies inside the box, give or take a cell.
        footage::FootageMaker maker(WalkerScript(background), STREAM_SAMPLES_DIR);
        int x = 0, y = 0;
        if (in_time && maker.ObjectAt(outcome.first_motion, &x, &y)) {
            const motion::Box& box = outcome.box_at_first;
            EXPECT_NEAR(box.x, x, 4) << background;
            EXPECT_NEAR(box.y, y, 4) << background;
            EXPECT_LE(box.h, footage::kObjectHeight + 4) << background;
            ++found;
            total_delay += outcome.first_motion - kObjectEnters;
        }
    }
    std::cout << "moving object found on " << found << " of 5 backgrounds, " << total_delay
              << " pictures of delay in all\n";
}

TEST_P(MotionFootage, CameraNoiseRaisesNothing) {
    Script script;
    script.noise_sigma = 6;
    script.frames = 200;
    ExpectQuiet(script);
}

TEST_P(MotionFootage, SlowDaylightDriftRaisesNothing) {
    Script script;
    script.frames = 300;
    script.drift_per_frame = 0.1;  // 30 levels in 20 s at 15 pictures/s
    ExpectQuiet(script);
}

TEST_P(MotionFootage, LightSwitchedOffAndOnRaisesNothing) {
    Script script;
    script.light_off_at = 40;
    script.light_on_at = 80;
    ExpectQuiet(script);
}

TEST_P(MotionFootage, SpecksAreDroppedOnlyWhileDespeckling) {
    Script script;
    script.frames = 60;
    script.specks_percent = 2;
    ExpectQuiet(script);
    motion::MotionSettings settings = Settings();
    settings.despeckle = false;
    EXPECT_GT(RunClip(script, settings).motion_pictures, 0);
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
    EXPECT_EQ(RunClip(WalkerScript("building"), Settings(), mask).motion_pictures, 0);
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
    ASSERT_TRUE(motion::ParseMotionThreshold("1500", &threshold, &error)) << error;
    EXPECT_EQ(threshold.Pixels(), 1500);
    ASSERT_TRUE(motion::ParseMotionThreshold("2%", &threshold, &error)) << error;
    EXPECT_EQ(threshold.Pixels(), 1536);
    ASSERT_TRUE(motion::ParseMotionThreshold("0.5%", &threshold, &error)) << error;
    EXPECT_EQ(threshold.Pixels(), 384);
    EXPECT_EQ(motion::MotionSettings().threshold.Pixels(), 768);  // the default, 1%
    for (const char* bad : {"", "%", "abc", "12px", "1.5", "0", "-3", "76801", "0%", "101%", "nan%", "2 %"}) {
        error.clear();
        EXPECT_FALSE(motion::ParseMotionThreshold(bad, &threshold, &error)) << bad;
        EXPECT_NE(error.find("motion threshold \"" + std::string(bad) + "\""), std::string::npos) << error;
    }
}

TEST(MotionMask, BadFilesAreRefusedWithTheirReason) {
    motion::MotionMask mask;
    mask.SetCounted(5, 5, false);
    std::string error;
    const auto refused = [&](const std::string& bytes, const std::string& reason) {
        error.clear();
        EXPECT_FALSE(motion::ParseMotionMask(bytes, "m.pgm", &mask, &error)) << reason;
        EXPECT_NE(error.find("motion mask m.pgm: " + reason), std::string::npos) << error;
    };
    refused("P6\n320 240\n255\n", "not a PGM picture");
    refused("P5\n640 480\n255\n" + std::string(640 * 480, '\0'),
            "the picture is 640 x 480; a mask must be 320 x 240");
    refused("P5\n320 240\n255\n" + std::string(1000, '\0'), "the file ends before the last pixel");
    refused("P5\n320 240\n", "the PGM header is damaged");
    refused("P2\n320 240\n1\n0 1 1\n", "the file ends before the last pixel");
    EXPECT_FALSE(mask.Counted(5, 5)) << "a refused file changed the mask";
    EXPECT_FALSE(motion::ReadMotionMask("/nonexistent/m.pgm", &mask, &error));
    EXPECT_NE(error.find("cannot open it"), std::string::npos) << error;

    // Plain P2 with a 16-bit maximum: only 0 is black.
    std::string plain = "P2\n# plain\n320 240\n65535\n0 1";
    for (int i = 2; i < 320 * 240; ++i) plain += " 65535";
    ASSERT_TRUE(motion::ParseMotionMask(plain, "m.pgm", &mask, &error)) << error;
    EXPECT_FALSE(mask.Counted(0, 0));
    EXPECT_TRUE(mask.Counted(1, 0));
    EXPECT_EQ(mask.CountedPixels(), 320 * 240 - 1);
}

}  // namespace
