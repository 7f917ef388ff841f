// Sound from end to end without a sound card: a tone captured into blocks, the blocks delivered with
// network jitter to the playback queue, and what the output "played" checked from its recording.
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

// What happened at each finished output buffer while the receiver was logged in.
struct Moves {
    int normal = 0, stretched = 0, shortened = 0, silent = 0;
    int late_normal = 0, late_total = 0, late_silent = 0;
    int deepest = 0;
    std::int64_t real_samples = 0;  // samples of sound blocks played
    std::int64_t all_samples = 0;   // every sample played, silence included
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
    Moves moves;
    int sent = 0, delivered = 0, played_blocks = 0, drained_blocks = 0, capped = 0;

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
            const int c = receiver.QueueCount;
            if (!receiver.fLOGIN) {
                drained_blocks += c > 0;
            } else {
                const bool late = now > kSettleMicros;
                int length = 1679;
                if (c == 0) {
                    ++moves.silent;
                    moves.late_silent += late;
                } else if (c == 4) {
                    length = 1600;
                    ++moves.normal;
                    moves.late_normal += late;
                } else if (c >= 5) {
                    length = 1520;
                    ++moves.shortened;
                } else {
                    ++moves.stretched;
                }
                moves.late_total += late;
                if (late) moves.deepest = std::max(moves.deepest, c);
                if (c > 0) {
                    ++played_blocks;
                    moves.real_samples += length;
                }
                moves.all_samples += length;
            }
            receiver.WaveMoving(3);
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
    EXPECT_EQ(played_blocks + drained_blocks + waiting, delivered);

    const std::vector<std::int16_t> played = wave_test::ReadSamples(path);
    ASSERT_EQ(static_cast<std::int64_t>(played.size()), 2 * 1600 + moves.all_samples);
    // Expanded sound is never exactly 0 (the quietest codes give -4 and 4): every other sample is sound.
    const auto sound = std::count_if(played.begin(), played.end(), [](std::int16_t s) { return s != 0; });
    EXPECT_EQ(sound, moves.real_samples);

    // The tone comes back at its pitch (stretching and shortening move it by under 5 %).
    const double seconds = static_cast<double>(sound) / 8000;
    const double hz = wave_test::RisingCrossings(played, 0, played.size()) / seconds;
    EXPECT_NEAR(hz, kToneHz, kToneHz * 0.02);

    // Once settled, most buffers play at normal length, the queue stays shallow and never runs dry.
    EXPECT_GT(moves.late_total, 100);
    EXPECT_GE(moves.late_normal * 10, moves.late_total * 6)
        << moves.normal << " normal, " << moves.stretched << " stretched, " << moves.shortened
        << " shortened";
    EXPECT_LE(moves.deepest, 6);
    EXPECT_EQ(moves.late_silent, 0);
}
