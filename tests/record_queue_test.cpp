// The pre-capture buffer and encoder queue: which pictures and sound a recording gets, how overlapping
// events share one recording, and that a slow encoder costs new pictures, never the ones it still needs.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "allocation_counter.h"
#include "media/picture_geometry.h"
#include "record/recording_queue.h"

using namespace record;

namespace {

constexpr std::int64_t kSecond = 1000000;
constexpr std::int64_t kPictureMicros = 100000;  // 10 pictures a second

// A window thread feeding the queue and an encoder taking from it, in one thread.
struct QueueRig {
    RecordingQueue queue;
    std::vector<std::uint8_t> picture = std::vector<std::uint8_t>(media::kPictureBytes, 128);
    std::array<std::int16_t, kSoundBlockSamples> sound{};
    std::int64_t now = 0;
    std::vector<std::vector<std::int64_t>> pictures_by_segment{{}};
    std::vector<std::vector<std::int64_t>> sound_by_segment{{}};
    std::vector<std::vector<std::string>> events_by_segment;

    explicit QueueRig(QueueSettings settings) : queue(settings) {}

    // Feeds pictures (and the sound block that ends, every 0.2 s) up to the given time.
    void FeedUntil(std::int64_t until, bool encode = true) {
        for (; now < until; now += kPictureMicros) {
            queue.AddPicture(picture.data(), now);
            if (now > 0 && now % kSoundBlockMicros == 0) queue.AddSound(sound, now);
            if (encode) Encode();
        }
    }
    void Encode() {
        while (const PictureSlot* slot = queue.NextPicture()) {
            pictures_by_segment.back().push_back(slot->micros);
            queue.DonePicture();
        }
        while (const SoundSlot* slot = queue.NextSound()) {
            sound_by_segment.back().push_back(slot->first_micros);
            queue.DoneSound();
        }
        if (queue.FrontSegmentDrained()) {
            events_by_segment.push_back(queue.FrontEvents());
            queue.PopSegment();
            pictures_by_segment.emplace_back();
            sound_by_segment.emplace_back();
        }
    }
};

QueueSettings TenPerSecond() {
    QueueSettings settings;
    settings.fps = 10;
    settings.pre_capture_micros = 1 * kSecond;
    settings.post_capture_micros = 1 * kSecond;
    return settings;
}

}  // namespace

TEST(RecordingQueue, RecordsFromPreCaptureToPostCaptureAndOverlappingEventsShareOneRecording) {
    QueueRig rig(TenPerSecond());
    rig.FeedUntil(3 * kSecond);
    EXPECT_FALSE(rig.queue.Recording());
    rig.queue.StartEvent("a", 3 * kSecond);
    rig.FeedUntil(4 * kSecond);
    rig.queue.EndEvent("a", 4 * kSecond);
    rig.FeedUntil(45 * kSecond / 10);
    rig.queue.StartEvent("b", rig.now);  // before a's post-capture has passed: the same recording
    rig.FeedUntil(5 * kSecond);
    rig.queue.EndEvent("b", 5 * kSecond);
    rig.FeedUntil(8 * kSecond);
    rig.queue.StartEvent("c", 8 * kSecond);  // a recording of its own, with its own pre-capture
    rig.queue.EndEvent("c", 8 * kSecond);
    rig.FeedUntil(10 * kSecond);

    ASSERT_EQ(rig.events_by_segment.size(), 2u);
    EXPECT_EQ(rig.events_by_segment[0], (std::vector<std::string>{"a", "b"}));
    const auto& first = rig.pictures_by_segment[0];
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first.front(), 2 * kSecond);  // 1 s before a's start
    EXPECT_EQ(first.back(), 6 * kSecond);   // 1 s after b's end
    EXPECT_EQ(first.size(), 41u);           // every picture in between, once
    // The sound blocks that overlap the recording, none after its end.
    const auto& sound = rig.sound_by_segment[0];
    ASSERT_FALSE(sound.empty());
    EXPECT_LE(sound.front(), 2 * kSecond);
    EXPECT_GT(sound.front() + kSoundBlockMicros, 2 * kSecond);
    EXPECT_LT(sound.back(), 6 * kSecond);
    EXPECT_GE(sound.back() + kSoundBlockMicros, 6 * kSecond);

    EXPECT_EQ(rig.events_by_segment[1], (std::vector<std::string>{"c"}));
    EXPECT_EQ(rig.pictures_by_segment[1].front(), 7 * kSecond);
    EXPECT_EQ(rig.pictures_by_segment[1].back(), 9 * kSecond);
    EXPECT_FALSE(rig.queue.Recording());
}

TEST(RecordingQueue, ASlowEncoderLosesNewPicturesNotTheOnesItNeedsAndNothingIsAllocated) {
    QueueRig rig(TenPerSecond());
    rig.FeedUntil(3 * kSecond);  // the rings are full and wrap: from here on no picture may allocate
    long before = AllocationCount();
    rig.FeedUntil(6 * kSecond);
    EXPECT_EQ(AllocationCount(), before);
    rig.queue.StartEvent("slow", 6 * kSecond);
    before = AllocationCount();
    rig.FeedUntil(12 * kSecond, /*encode=*/false);  // the encoder takes nothing for 6 s
    EXPECT_EQ(AllocationCount(), before);

    const std::size_t capacity = rig.queue.PictureCapacity();
    EXPECT_EQ(rig.queue.DroppedPictures(), 70u - capacity);  // 10 pre-capture + 60 new pictures
    rig.queue.EndEvent("slow", 12 * kSecond);
    rig.FeedUntil(14 * kSecond);
    // What the encoder gets: the pre-capture second and what fitted, unbroken, then the pictures that came
    // once it took again.
    const auto& got = rig.pictures_by_segment[0];
    ASSERT_GE(got.size(), capacity);
    for (std::size_t i = 1; i < capacity; ++i) EXPECT_EQ(got[i] - got[i - 1], kPictureMicros);
    EXPECT_EQ(got.front(), 5 * kSecond);
    EXPECT_EQ(got.back(), 13 * kSecond);
}
