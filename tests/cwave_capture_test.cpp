// Capture: input buffers cycle between the device and the program and become sound blocks.
#include <array>
#include <cstring>

#include "audio/CWAVE.h"
#include "platform/msgbox.h"
#include "wave_test_rig.h"

using namespace platform;
using wave_test::WaveRig;

namespace {

using Block = std::array<std::uint8_t, CWAVE::kBlockSamples>;

// Stands in for the socket class: what WaveInSending and WaveInMultiSending use of it.
struct FakeSock {
    std::uint32_t MySock = 0;
    std::vector<Block> sent;
    std::vector<std::pair<std::int32_t, std::int32_t>> numbers;
    void SendWaveData(const std::uint8_t* block) {
        Block b;
        std::memcpy(b.data(), block, b.size());
        sent.push_back(b);
    }
    void SendWaveServer(const std::uint8_t* block, std::int32_t num1, std::int32_t num2) {
        SendWaveData(block);
        numbers.emplace_back(num1, num2);
    }
};

// The block that the device's samples should give, compressed independently of the header.
Block Expected(const CWAVE& w, const WAVEHDR& h) {
    std::array<std::int16_t, CWAVE::kBlockSamples> samples;
    std::memcpy(samples.data(), h.lpData, CWAVE::kBlockBytes);
    Block b;
    w.WaveCompress(samples, b);
    return b;
}

struct Capture {
    explicit Capture(const std::string& in = "tone:500") : rig(in, "null") {
        rig.on_message = [this](UINT msg, WPARAM, LPARAM lp) {
            if (msg == MM_WIM_DATA) arrived.push_back(lp);
        };
    }
    WaveRig rig;
    CWAVE wave;
    std::vector<LPARAM> arrived;
};

bool Queued(const WAVEHDR& h) {
    return (h.dwFlags.load() & WHDR_INQUEUE) != 0;
}

}  // namespace

TEST(Capture, EachFilledBufferBecomesOneBlockAndGoesBackToTheDevice) {
    Capture c;
    c.wave.WaveInSet();
    ASSERT_NE(c.wave.m_hWaveIn, 0u);
    c.wave.WaveAddIn();
    c.rig.Step(200000);
    ASSERT_EQ(c.arrived.size(), 1u);
    ASSERT_EQ(c.arrived[0], reinterpret_cast<LPARAM>(&c.wave.InHeader(0)));
    const Block want = Expected(c.wave, c.wave.InHeader(0));
    Block block{};
    ASSERT_TRUE(c.wave.MakeWaveInSendData(c.arrived[0], block));
    EXPECT_EQ(block, want);
    EXPECT_TRUE(Queued(c.wave.InHeader(0)));  // handed back

    c.rig.Step(400000);  // buffer 1, then buffer 0 again: recording goes on
    ASSERT_EQ(c.arrived.size(), 3u);
    EXPECT_EQ(c.arrived[1], reinterpret_cast<LPARAM>(&c.wave.InHeader(1)));
    EXPECT_EQ(c.arrived[2], reinterpret_cast<LPARAM>(&c.wave.InHeader(0)));
    c.wave.WaveInStop();
    EXPECT_EQ(c.wave.m_hWaveIn, 0u);
}

TEST(Capture, RefusesAnAddressThatIsNoFilledBufferOfItsOwn) {
    Capture c;
    c.wave.WaveInSet();
    c.wave.WaveAddIn();
    Block block;
    block.fill(0x5A);
    WAVEHDR stranger;
    EXPECT_FALSE(c.wave.MakeWaveInSendData(reinterpret_cast<LPARAM>(&stranger), block));
    EXPECT_FALSE(c.wave.MakeWaveInSendData(0, block));
    // Buffer 0 is still the device's: reading it now would race with the device thread.
    EXPECT_FALSE(c.wave.MakeWaveInSendData(reinterpret_cast<LPARAM>(&c.wave.InHeader(0)), block));
    EXPECT_TRUE(std::all_of(block.begin(), block.end(), [](std::uint8_t b) { return b == 0x5A; }));
}

TEST(Capture, ABufferReturnedByAResetIsStillConvertedWhole) {
    Capture c;
    c.wave.WaveInSet();
    c.wave.WaveAddIn();
    c.rig.Step(200000);
    Block block;
    ASSERT_TRUE(c.wave.MakeWaveInSendData(c.arrived[0], block));  // buffer 0 queued again behind buffer 1
    c.rig.Step(100000);
    waveInReset(c.wave.m_hWaveIn);
    c.rig.Settle();
    ASSERT_EQ(c.arrived.size(), 3u);
    const WAVEHDR& half = c.wave.InHeader(1);
    EXPECT_EQ(half.dwBytesRecorded, 1600u);
    ASSERT_TRUE(c.wave.MakeWaveInSendData(c.arrived[1], block));
    EXPECT_EQ(block, Expected(c.wave, half));  // all 1,600 samples, recorded or not
}

TEST(Capture, RecordingStallsWhileBuffersAreKeptAndRestartsWithWaveAddIn) {
    Capture c;
    c.wave.WaveInSet();
    c.wave.WaveAddIn();
    c.rig.Step(1000000);  // nobody hands the buffers back
    EXPECT_EQ(c.arrived.size(), 2u);
    c.wave.WaveAddIn();
    c.rig.Step(400000);
    EXPECT_EQ(c.arrived.size(), 4u);
}

TEST(Capture, SendingGoesThroughTheSocketOnlyWhenItHasOne) {
    Capture c;
    c.wave.WaveInSet();
    c.wave.WaveAddIn();
    c.rig.Step(600000);
    ASSERT_EQ(c.arrived.size(), 2u);  // both buffers are now the program's

    FakeSock none;
    c.wave.WaveInSending(none, c.arrived[0]);
    EXPECT_TRUE(none.sent.empty());
    EXPECT_TRUE(Queued(c.wave.InHeader(0)));  // handed back all the same

    FakeSock sock;
    sock.MySock = 5;
    const Block want = Expected(c.wave, c.wave.InHeader(1));
    c.wave.WaveInMultiSending(sock, c.arrived[1], 3, 7);
    ASSERT_EQ(sock.sent.size(), 1u);
    EXPECT_EQ(sock.sent[0], want);
    EXPECT_EQ(sock.numbers[0], std::make_pair(3, 7));

    c.rig.Step(200000);
    ASSERT_EQ(c.arrived.size(), 3u);
    const Block next = Expected(c.wave, c.wave.InHeader(0));
    c.wave.WaveInSending(sock, c.arrived[2]);
    ASSERT_EQ(sock.sent.size(), 2u);
    EXPECT_EQ(sock.sent[1], next);
}

TEST(Capture, AnInputThatCannotOpenIsReportedInABox) {
    Capture c("none");
    SetProgramTitle("Tessaly");
    std::vector<std::pair<std::string, std::string>> boxes;
    MessageBoxHandler saved = SetMessageBoxHandler(
        [&](const std::string& text, const std::string& title) { boxes.emplace_back(text, title); });
    c.wave.WaveInSet();
    SetMessageBoxHandler(saved);
    SetProgramTitle({});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].first, "waveInOpen() で失敗しました");
    EXPECT_EQ(boxes[0].second, "Tessaly");  // the program's own title, as every other box
    EXPECT_EQ(c.wave.m_hWaveIn, 0u);
    c.wave.WaveAddIn();  // later calls on the missing device do nothing
    c.wave.WaveInStop();
}
