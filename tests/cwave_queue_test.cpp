// The adaptive playback queue: stretch and shrink, the choice of output header, start-up, the cap, the
// login gate, and restarts after the queue ran dry.
#include <array>
#include <cstring>

#include "audio/CWAVE.h"
#include "wave_test_rig.h"

using namespace platform;
using wave_test::WaveRig;

namespace {

using Block = std::array<std::uint8_t, CWAVE::kBlockSamples>;

Block Filled(std::uint8_t byte) {
    Block b;
    b.fill(byte);
    return b;
}

std::int16_t Expanded(std::uint8_t byte) {
    CWAVE w;
    std::int16_t s = 0;
    w.WaveExpand(std::span(&byte, 1), std::span(&s, 1));
    return s;
}

std::vector<std::int16_t> SlotSamples(const CWAVE& w, int slot, int bytes) {
    std::vector<std::int16_t> out(bytes / 2);
    std::memcpy(out.data(), w.OutSlot(slot), out.size() * 2);
    return out;
}

bool SlotSilent(const CWAVE& w, int slot) {
    const char* p = w.OutSlot(slot);
    return std::all_of(p, p + CWAVE::kSlotBytes, [](char c) { return c == 0; });
}

int QueuedHeaders(const CWAVE& w) {
    int n = 0;
    for (int i = 0; i < CWAVE::kOutSlots; ++i) n += (w.OutHeader(i).dwFlags.load() & WHDR_INQUEUE) != 0;
    return n;
}

// Collapses a recording into its runs of equal samples: a constant block shows up as one run.
struct SampleRun {
    std::int16_t value;
    std::size_t length;
};
std::vector<SampleRun> Runs(const std::vector<std::int16_t>& s) {
    std::vector<SampleRun> runs;
    for (std::int16_t v : s) {
        if (runs.empty() || runs.back().value != v) runs.push_back({v, 0});
        ++runs.back().length;
    }
    return runs;
}

// A receiver's playback: the output device on the manual clock, WaveMoving(3) on every finished buffer.
struct Player {
    explicit Player(const std::string& out = "null") : rig("none", out) {
        rig.on_message = [this](UINT msg, WPARAM, LPARAM) {
            if (msg != MM_WOM_DONE) return;
            wave.WaveMoving(3);
            moves.push_back(wave.OutIndex);
            most_in_flight = std::max(most_in_flight, QueuedHeaders(wave));
        };
        std::int32_t error = 1;
        wave.WaveOutSet(error);
        EXPECT_EQ(error, 0);
        wave.fLOGIN = kTrue;
    }
    void Deliver(std::uint8_t byte) {
        const Block b = Filled(byte);
        if (wave.fPlay) {
            wave.Play(b);
        } else {
            wave.StartPlay(b);
        }
    }

    WaveRig rig;
    CWAVE wave;
    std::vector<int> moves;
    int most_in_flight = 0;
};

}  // namespace

TEST(WaveStretchShrink, RepeatOrDropEveryTwentiethSampleFromTheTwentiethTo1580th) {
    CWAVE w;
    std::array<std::int16_t, CWAVE::kBlockSamples> block;
    for (int i = 0; i < CWAVE::kBlockSamples; ++i) block[i] = static_cast<std::int16_t>(i + 1);
    std::vector<std::int16_t> stretched, shrunk;
    for (int i = 0; i < CWAVE::kBlockSamples; ++i) {
        const bool marked = i % 20 == 0 && i >= 20 && i <= 1580;
        stretched.push_back(block[i]);
        if (marked) stretched.push_back(block[i]);
        if (!marked) shrunk.push_back(block[i]);
    }
    ASSERT_EQ(stretched.size(), 1679u);  // 3,358 bytes
    ASSERT_EQ(shrunk.size(), 1521u);     // 3,042 bytes

    w.OutIndex = 2;
    w.WaveStretch(block, 40);
    EXPECT_EQ(SlotSamples(w, 2, 3358), stretched);
    EXPECT_EQ(w.OutSlot(2)[3358], 0);  // the 3,359th byte is never written

    w.OutIndex = 4;
    w.WaveStretch(block, 40);  // leaves stretched samples behind the shortened block
    w.WaveShrink(block, 40);
    EXPECT_EQ(SlotSamples(w, 4, 3042), shrunk);
    EXPECT_EQ(SlotSamples(w, 4, 3358).back(), stretched.back());  // nothing written past 3,042 bytes
}

TEST(WaveMoving, PlaysNormalStretchedOrShortenedAroundTheTargetDepth) {
    const std::uint8_t first = 0x21, second = 0x22;
    for (int depth = 0; depth <= 7; ++depth) {
        SCOPED_TRACE("depth " + std::to_string(depth));
        CWAVE w;  // no device: only the choices and the queue are watched
        w.fLOGIN = kTrue;
        for (int k = 0; k < depth; ++k) w.Play(Filled(k == 0 ? first : second));
        w.fPlay = kTrue;
        w.WaveMoving(3);
        const std::int16_t a = Expanded(first);
        if (depth == 4) {
            EXPECT_EQ(w.OutIndex, 0);
            EXPECT_EQ(SlotSamples(w, 0, 3200), std::vector<std::int16_t>(1600, a));
        } else if (depth >= 5) {
            EXPECT_EQ(w.OutIndex, 4);
            EXPECT_EQ(SlotSamples(w, 4, 3042), std::vector<std::int16_t>(1521, a));
        } else {
            EXPECT_EQ(w.OutIndex, 2);
            const std::int16_t want = depth == 0 ? 0 : a;  // an empty queue plays silence
            EXPECT_EQ(SlotSamples(w, 2, 3358), std::vector<std::int16_t>(1679, want));
        }
        EXPECT_EQ(w.QueueCount, std::max(depth - 1, 0));
        EXPECT_EQ(w.fPlay, depth == 0 ? kFalse : kTrue);
        if (depth >= 2) {
            EXPECT_EQ(w.PlayQueue[0], Expanded(second));  // the queue moved on by one block
        }
    }
}

TEST(WaveMoving, ChoosesTheHeaderOfEachKindThatTheDeviceDoesNotHold) {
    Player p;
    for (int k = 0; k < 4; ++k) p.Deliver(0x30);  // three to start, then depth 4 at each finished buffer
    for (int k = 0; k < 4; ++k) {
        p.rig.Step(200000);
        p.Deliver(0x30);
    }
    EXPECT_EQ(p.moves, (std::vector<int>{0, 1, 0, 1}));

    p.moves.clear();
    for (int k = 0; k < 3; ++k) p.Deliver(0x31);  // depth 5 and more: shortened
    p.rig.Step(600000);
    ASSERT_GE(p.moves.size(), 3u);
    EXPECT_EQ(std::vector<int>(p.moves.begin(), p.moves.begin() + 3), (std::vector<int>{4, 5, 4}));

    p.moves.clear();
    p.rig.Step(1000000);  // nothing arrives: the queue runs low, then dry
    // After what was still deep enough for normal length, stretched buffers alternate between 2 and 3.
    const auto first = std::find(p.moves.begin(), p.moves.end(), 2);
    ASSERT_GE(p.moves.end() - first, 3) << ::testing::PrintToString(p.moves);
    for (auto m = first; m != p.moves.end(); ++m) {
        EXPECT_EQ(*m, (m - first) % 2 == 0 ? 2 : 3) << ::testing::PrintToString(p.moves);
    }
    EXPECT_EQ(p.most_in_flight, 2);
}

TEST(StartPlay, PrimesThreeBlocksThenStartsHeadersZeroAndOneOnSilence) {
    Player p;
    p.wave.StartPlay(Filled(0x41));
    p.wave.StartPlay(Filled(0x42));
    EXPECT_EQ(QueuedHeaders(p.wave), 0);
    EXPECT_EQ(p.wave.fPlay, kFalse);
    p.wave.StartPlay(Filled(0x43));
    EXPECT_TRUE(p.wave.OutHeader(0).dwFlags.load() & WHDR_INQUEUE);
    EXPECT_TRUE(p.wave.OutHeader(1).dwFlags.load() & WHDR_INQUEUE);
    EXPECT_EQ(QueuedHeaders(p.wave), 2);
    EXPECT_TRUE(SlotSilent(p.wave, 0) && SlotSilent(p.wave, 1));
    EXPECT_EQ(p.wave.fPlay, kTrue);
    EXPECT_EQ(p.wave.StartCount, 0);
    // All three blocks count: the next block goes behind the third instead of over it.
    EXPECT_EQ(p.wave.QueueCount, 3);
    p.wave.Play(Filled(0x44));
    EXPECT_EQ(p.wave.PlayQueue[2 * CWAVE::kBlockSamples], Expanded(0x43));
    EXPECT_EQ(p.wave.PlayQueue[3 * CWAVE::kBlockSamples], Expanded(0x44));
}

TEST(Play, KeepsTheTwelveOldestBlocksAndLetsNewerOnesReplaceTheThirteenth) {
    CWAVE w;
    for (int k = 0; k < 15; ++k) w.Play(Filled(static_cast<std::uint8_t>(0x10 + k)));
    EXPECT_EQ(w.QueueCount, 12);
    for (int k = 0; k < 12; ++k) EXPECT_EQ(w.PlayQueue[k * CWAVE::kBlockSamples], Expanded(0x10 + k));
    EXPECT_EQ(w.PlayQueue[12 * CWAVE::kBlockSamples], Expanded(0x10 + 14));
}

TEST(WaveMoving, WithoutLoginEmptiesTheQueueOneBlockPerCallWithoutWriting) {
    Player p;
    for (int k = 0; k < 6; ++k) p.Deliver(0x50);
    ASSERT_EQ(p.wave.QueueCount, 6);
    p.wave.fLOGIN = kFalse;
    for (int expected = 5; expected >= 0; --expected) {
        p.wave.WaveMoving(3);
        EXPECT_EQ(p.wave.QueueCount, expected);
        EXPECT_EQ(QueuedHeaders(p.wave), 2);  // only the two that StartPlay wrote
    }
    EXPECT_EQ(p.wave.fPlay, kFalse);
}

TEST(StartPlay, ARestartNeverReplaysWhatOutputSlotsZeroAndOneHeldBefore) {
    Player p;
    for (int k = 0; k < 4; ++k) p.Deliver(0x60);
    for (int k = 0; k < 4; ++k) {
        p.rig.Step(200000);
        p.Deliver(0x60);
    }
    ASSERT_FALSE(SlotSilent(p.wave, 0));  // normal blocks went through slots 0 and 1
    ASSERT_FALSE(SlotSilent(p.wave, 1));

    p.wave.fLOGIN = kFalse;  // the sound connection went away: output runs down
    p.rig.Step(1000000);
    ASSERT_EQ(QueuedHeaders(p.wave), 0);
    EXPECT_EQ(p.wave.fPlay, kFalse);  // so a new connection starts playback afresh

    p.wave.fLOGIN = kTrue;
    for (int k = 0; k < 3; ++k) p.Deliver(0x70);
    EXPECT_EQ(QueuedHeaders(p.wave), 2);
    EXPECT_TRUE(SlotSilent(p.wave, 0) && SlotSilent(p.wave, 1));
}

TEST(StartPlay, ARestartWhileOutputRunsKeepsTwoBuffersInFlightAndPlaysNothingStale) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("played.wav").toStdString();
    {
        Player p("null:" + path);
        const std::uint8_t a[] = {0x11, 0x12, 0x13}, b[] = {0x21, 0x22, 0x23, 0x24};
        for (std::uint8_t x : a) p.Deliver(x);
        p.rig.Step(1400000);  // plays them, then the queue runs dry
        EXPECT_EQ(p.wave.fPlay, kFalse);
        for (std::uint8_t x : b) {
            p.Deliver(x);
            p.rig.Step(200000);
        }
        p.rig.Step(1200000);
        EXPECT_EQ(p.most_in_flight, 2);
    }
    const std::vector<SampleRun> runs = Runs(wave_test::ReadSamples(path));
    std::vector<std::int16_t> want = {0, Expanded(0x11), Expanded(0x12), Expanded(0x13), 0};
    for (std::uint8_t x : {0x21, 0x22, 0x23, 0x24}) want.push_back(Expanded(x));
    want.push_back(0);
    std::vector<std::int16_t> values;
    for (const SampleRun& r : runs) values.push_back(r.value);
    EXPECT_EQ(values, want);
    for (const SampleRun& r : runs) {
        if (r.value == 0) continue;
        EXPECT_GE(r.length, 1520u);  // each block played once: shortened, normal or stretched
        EXPECT_LE(r.length, 1679u);
    }
}

TEST(WaveOutSet, ReportsAnOutputThatCannotOpen) {
    WaveRig rig("none", "none");
    CWAVE w;
    std::int32_t error = 0;
    w.WaveOutSet(error);
    EXPECT_EQ(error, -1);
    EXPECT_EQ(w.m_hWaveOut, 0u);
    for (int k = 0; k < 4; ++k)
        w.fPlay ? w.Play(Filled(1)) : w.StartPlay(Filled(1));  // harmless without a device
    w.fLOGIN = kTrue;
    w.WaveMoving(3);
    EXPECT_EQ(w.QueueCount, 3);
    EXPECT_EQ(w.OutInFlight(), 0);
}
