// The event logic: an event's life from the detector's results with exact times (start, gap, end, ids),
// its JSON, its thumbnail, and that a picture within an event allocates nothing.
#include <gtest/gtest.h>

#include <vector>

#include "allocation_counter.h"
#include "events/event_tracker.h"
#include "media/picture_geometry.h"

namespace {

constexpr std::int64_t kPictureMicros = 100000;     // 10 pictures a second
constexpr std::int64_t kStartSeconds = 1796725800;  // 2026-12-08T10:30:00Z

events::PictureTime TimeOf(int picture) {
    return {.monotonic_micros = 5000000 + picture * kPictureMicros,
            .wall = {.unix_seconds = kStartSeconds + picture / 10, .utc_offset_minutes = 60}};
}

motion::MotionResult Motion(int changed, motion::Box box) {
    return {.changed_pixels = changed, .box = box, .motion = true, .learning = false};
}

std::vector<std::uint8_t> PlainPicture(std::uint8_t value) {
    return std::vector<std::uint8_t>(media::kPictureBytes, value);
}

TEST(MotionEvents, EventLastsUntilTheGapAfterItsLastMotion) {
    events::EventTracker tracker(10);
    const std::vector<std::uint8_t> picture = PlainPicture(50);
    const motion::MotionResult still;
    EXPECT_FALSE(tracker.Update(still, picture.data(), TimeOf(0)).started);

    const events::EventChanges first =
        tracker.Update(Motion(900, {10, 20, 30, 40}), picture.data(), TimeOf(5));
    ASSERT_TRUE(first.started);
    ASSERT_NE(tracker.Running(), nullptr);
    EXPECT_EQ(events::EventJson(*tracker.Running(), "/recordings/a.jpg", std::nullopt),
              R"({"id":"20261208-113000","start":"2026-12-08T11:30:00+01:00","end":null,"peak":900,)"
              R"("box":[10,20,30,40],"thumbnail":"/recordings/a.jpg","video":null})");

    // Motion 9.9 s after the last belongs to the same event; the box grows, the peak keeps the largest.
    EXPECT_FALSE(tracker.Update(still, picture.data(), TimeOf(103)).ended);
    EXPECT_FALSE(tracker.Update(Motion(500, {100, 100, 20, 20}), picture.data(), TimeOf(104)).started);
    EXPECT_FALSE(tracker.Update(still, picture.data(), TimeOf(203)).ended);
    const events::EventChanges end = tracker.Update(still, picture.data(), TimeOf(204));
    ASSERT_TRUE(end.ended);
    EXPECT_EQ(tracker.Running(), nullptr);
    const events::Event& ended = *tracker.LastEnded();
    EXPECT_EQ(ended.box, (motion::Box{10, 20, 110, 100}));
    EXPECT_EQ(ended.peak_box, (motion::Box{10, 20, 30, 40}));
    EXPECT_EQ(
        events::EventJson(ended, "/t\"1.jpg", "/recordings/20261208-113000.mp4"),
        R"({"id":"20261208-113000","start":"2026-12-08T11:30:00+01:00","end":"2026-12-08T11:30:20+01:00",)"
        R"("peak":900,"box":[10,20,110,100],"thumbnail":"/t\"1.jpg","video":"/recordings/20261208-113000.mp4"})");

    // Without a gap, two events that start in the same second get distinct ids; Finish ends one at once.
    events::EventTracker eager(0);
    eager.Update(Motion(800, {0, 0, 4, 4}), picture.data(), TimeOf(1000));
    const events::EventChanges both = eager.Update(Motion(800, {0, 0, 4, 4}), picture.data(), TimeOf(1001));
    EXPECT_TRUE(both.ended && both.started);
    EXPECT_EQ(eager.LastEnded()->id, "20261208-113140");
    EXPECT_EQ(eager.Running()->id, "20261208-113140-2");
    EXPECT_TRUE(eager.Finish(TimeOf(1009)));
    EXPECT_EQ(events::IsoTime(*eager.LastEnded()->end), "2026-12-08T11:31:40+01:00");
    EXPECT_FALSE(eager.Finish(TimeOf(1010)));
}

TEST(MotionEvents, TimesAreWrittenInTheirZone) {
    EXPECT_EQ(events::IsoTime({.unix_seconds = 0, .utc_offset_minutes = -90}), "1969-12-31T22:30:00-01:30");
    EXPECT_EQ(events::IsoTime({.unix_seconds = 1709208000, .utc_offset_minutes = 330}),
              "2024-02-29T17:30:00+05:30");
    EXPECT_EQ(events::CompactTime({.unix_seconds = 1709208000, .utc_offset_minutes = 0}), "20240229-120000");
}

TEST(MotionEvents, ThumbnailIsThePeakPictureWithItsBoxAndOutlivesTheEvent) {
    events::EventTracker tracker(1);
    const std::vector<std::uint8_t> small = PlainPicture(10), peak = PlainPicture(20),
                                    later = PlainPicture(30);
    tracker.Update(Motion(800, {0, 0, 10, 10}), small.data(), TimeOf(0));
    tracker.Update(Motion(2000, {100, 50, 40, 60}), peak.data(), TimeOf(1));
    tracker.Update(Motion(900, {0, 0, 10, 10}), later.data(), TimeOf(2));
    tracker.Update(Motion(900, {0, 0, 10, 10}), later.data(), TimeOf(30));  // ends the first, starts another
    ASSERT_NE(tracker.LastEnded(), nullptr);

    std::vector<std::uint8_t> thumbnail(media::kPictureBytes);
    ASSERT_TRUE(tracker.DrawThumbnail(*tracker.LastEnded(), thumbnail.data()));
    const auto pixel = [&](int x, int y_from_top) {
        return &thumbnail[static_cast<std::size_t>(239 - y_from_top) * 960 + 3 * x];
    };
    EXPECT_EQ(pixel(100, 50)[2], 255);  // the box's corners and edges are red...
    EXPECT_EQ(pixel(100, 50)[0], 0);
    EXPECT_EQ(pixel(139, 109)[2], 255);
    EXPECT_EQ(pixel(120, 51)[2], 255);
    EXPECT_EQ(pixel(120, 80)[2], 20);  // ...inside and outside is the peak picture
    EXPECT_EQ(pixel(99, 50)[2], 20);
    EXPECT_EQ(pixel(140, 110)[2], 20);
    const events::Event stranger;
    EXPECT_FALSE(tracker.DrawThumbnail(stranger, thumbnail.data()));
}

TEST(MotionEvents, PicturesWithinAnEventAllocateNothing) {
    events::EventTracker tracker;
    const std::vector<std::uint8_t> picture = PlainPicture(50);
    tracker.Update(Motion(800, {0, 0, 10, 10}), picture.data(), TimeOf(0));
    const long before = AllocationCount();
    for (int i = 1; i < 50; ++i) tracker.Update(Motion(800 + i, {i, i, 10, 10}), picture.data(), TimeOf(i));
    EXPECT_EQ(AllocationCount() - before, 0);
    EXPECT_EQ(tracker.Running()->peak, 849);
}

}  // namespace
