// Sound from end to end without a sound card: a tone captured into blocks, the blocks delivered with
// network jitter to the playback queue, and what the output "played" checked from its recording.
#include <algorithm>
#include <array>
#include <deque>
#include <random>

#include "audio/CWAVE.h"
#include "wave_test_rig.h"

using namespace platform;
using wave_test::WaveRig;

namespace {

using Block = std::array<std::uint8_t, CWAVE::kBlockSamples>;

constexpr int kToneHz = 500;
constexpr std::int64_t kRunMicros = 30000000;
constexpr std::int64_t kSettleMicros = 5000000;  // after this the queue should hold its depth
constexpr int kJitterMillis = 300;

struct InTransit {
    std::int64_t arrives;
    Block block;
};

// What the output played, told from each buffer it reported finished: its length against a block's
// 1,600 samples, and whether it held sound (expanded sound is never exactly 0) or silence.
struct Played {
    int normal = 0, stretched = 0, shortened = 0, silent = 0, sound_buffers = 0;
    int late_normal = 0, late_total = 0, late_silent = 0;
    std::int64_t sound_samples = 0;  // samples of buffers that held sound
    std::int64_t all_samples = 0;    // every sample played, silence included

    void Record(const WAVEHDR& done, bool late) {
        // The buffer's bytes need not be aligned for 16-bit samples: a sample is nonzero when either byte is.
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(done.lpData);
        const int length = static_cast<int>(done.dwBufferLength / 2);
        const bool sound = std::any_of(bytes, bytes + 2 * length, [](std::uint8_t b) { return b != 0; });
        all_samples += length;
        if (!sound) {
            ++silent;
            late_silent += late;
            return;
        }
        ++sound_buffers;
        sound_samples += length;
        normal += length == CWAVE::kBlockSamples;
        stretched += length > CWAVE::kBlockSamples;
        shortened += length < CWAVE::kBlockSamples;
        late_normal += late && length == CWAVE::kBlockSamples;
        late_total += late;
    }
};

}  // namespace

TEST(SoundEndToEnd, AToneSentWithJitterComesBackWholeAndTheQueueSettlesAtItsTarget) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("played.wav").toStdString();
    WaveRig rig("tone:" + std::to_string(kToneHz), "null:" + path);
    CWAVE server, receiver;
    std::deque<InTransit> network;
    std::mt19937 random(7);
    std::uniform_int_distribution<int> jitter(0, kJitterMillis * 1000);
    std::int64_t last_arrival = 0;
    Played played;
    int sent = 0, delivered = 0, capped = 0, deepest = 0;
    int taken_playing = 0, taken_running_down = 0;  // blocks the output took off the queue

    rig.on_message = [&](UINT msg, WPARAM, LPARAM lp) {
        const std::int64_t now = rig.clock().Now();
        if (msg == MM_WIM_DATA) {
            InTransit t;
            if (!server.MakeWaveInSendData(lp, t.block)) return;
            t.arrives = std::max(last_arrival, now + jitter(random));  // TCP keeps the order
            last_arrival = t.arrives;
            network.push_back(t);
            ++sent;
        } else if (msg == MM_WOM_DONE) {
            const bool playing = receiver.fLOGIN;
            const bool late = playing && now > kSettleMicros;
            played.Record(*reinterpret_cast<const WAVEHDR*>(lp), late);
            const int before = receiver.QueueCount;
            if (late) deepest = std::max(deepest, before);
            receiver.WaveMoving(3);
            (playing ? taken_playing : taken_running_down) += before - receiver.QueueCount;
        }
    };

    server.WaveInSet();
    std::int32_t error = 1;
    receiver.WaveOutSet(error);
    ASSERT_EQ(error, 0);
    receiver.fLOGIN = kTrue;
    server.WaveAddIn();
    for (std::int64_t t = 0; t < kRunMicros; t += 10000) {
        rig.Step(10000);
        while (!network.empty() && network.front().arrives <= rig.clock().Now()) {
            capped += receiver.fPlay && receiver.QueueCount == CWAVE::kQueueLimit;
            if (receiver.fPlay) {
                receiver.Play(network.front().block);
            } else {
                receiver.StartPlay(network.front().block);
            }
            network.pop_front();
            ++delivered;
        }
    }
    const int sent_while_running = sent;
    const int in_transit = static_cast<int>(network.size());
    server.WaveInStop();
    receiver.fLOGIN = kFalse;  // let the output run down, so that the recording ends on a whole buffer
    rig.Step(1000000);
    ASSERT_EQ(receiver.OutInFlight(), 0);

    // Five blocks a second were captured; all but those still on their way arrived.
    EXPECT_GE(sent_while_running, 149);
    EXPECT_EQ(delivered + in_transit, sent_while_running);
    EXPECT_LE(in_transit, 2);

    // No block went missing: each one was played, taken off while the output ran down, is still queued,
    // or waits to start playback.
    const int waiting = receiver.QueueCount + (receiver.fPlay ? 0 : receiver.StartCount);
    EXPECT_EQ(capped, 0);
    EXPECT_EQ(taken_playing + taken_running_down + waiting, delivered);
    // Each block taken while the receiver played came out as one buffer of sound.
    EXPECT_EQ(played.sound_buffers, taken_playing);

    // The recording is the finished buffers end to end, and its sound exactly theirs.
    const std::vector<std::int16_t> recording = wave_test::ReadSamples(path);
    ASSERT_EQ(static_cast<std::int64_t>(recording.size()), played.all_samples);
    const auto sound =
        std::count_if(recording.begin(), recording.end(), [](std::int16_t s) { return s != 0; });
    EXPECT_EQ(sound, played.sound_samples);

    // The tone comes back at its pitch (stretching and shortening move it by under 5 %).
    const double seconds = static_cast<double>(sound) / 8000;
    const double hz = wave_test::RisingCrossings(recording, 0, recording.size()) / seconds;
    EXPECT_NEAR(hz, kToneHz, kToneHz * 0.02);

    // Once settled, most buffers play at normal length, the queue stays shallow and never runs dry.
    EXPECT_GT(played.late_total, 100);
    EXPECT_GE(played.late_normal * 10, played.late_total * 6)
        << played.normal << " normal, " << played.stretched << " stretched, " << played.shortened
        << " shortened";
    EXPECT_LE(deepest, 6);
    EXPECT_EQ(played.late_silent, 0);
}
