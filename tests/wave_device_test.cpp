// The wave devices: buffer order and ownership, notifications, reset and close, on the manual clock.
#include <cmath>
#include <cstring>

#include "wave_test_rig.h"

using namespace platform;
using wave_test::Format8k;
using wave_test::WaveRig;

namespace {

constexpr UINT kHdr = sizeof(WAVEHDR);

struct Buffer {
    explicit Buffer(std::size_t samples, std::int16_t fill = 0) : data(samples, fill) {
        header.lpData = reinterpret_cast<char*>(data.data());
        header.dwBufferLength = static_cast<DWORD>(2 * samples);
    }
    std::vector<std::int16_t> data;
    WAVEHDR header;
};

bool Queued(const WAVEHDR& h) {
    return (h.dwFlags.load() & WHDR_INQUEUE) != 0;
}

HWAVEOUT OpenOut(WaveRig& rig) {
    HWAVEOUT h = 0;
    const WAVEFORMATEX f = Format8k();
    EXPECT_EQ(waveOutOpen(&h, WAVE_MAPPER, &f, rig.window(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    return h;
}

HWAVEIN OpenIn(WaveRig& rig) {
    HWAVEIN h = 0;
    const WAVEFORMATEX f = Format8k();
    EXPECT_EQ(waveInOpen(&h, WAVE_MAPPER, &f, rig.window(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    return h;
}

}  // namespace

TEST(WaveOut, PlaysBuffersInOrderAtTheirPaceAndReportsEachWithItsHeader) {
    WaveRig rig;
    HWAVEOUT out = OpenOut(rig);
    ASSERT_NE(out, 0u);
    Buffer a(1600), b(1600), c(800);
    for (Buffer* x : {&a, &b, &c}) {
        ASSERT_EQ(waveOutPrepareHeader(out, &x->header, kHdr), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutWrite(out, &x->header, kHdr), MMSYSERR_NOERROR);
    }
    rig.Settle();
    ASSERT_EQ(rig.Count(MM_WOM_OPEN), 1);
    EXPECT_EQ(rig.Count(MM_WOM_DONE), 0);
    EXPECT_TRUE(Queued(a.header) && Queued(b.header) && Queued(c.header));

    rig.Step(199000);
    EXPECT_EQ(rig.Count(MM_WOM_DONE), 0);
    rig.Step(1000);  // a's 0.2 s are over
    ASSERT_EQ(rig.Count(MM_WOM_DONE), 1);
    EXPECT_FALSE(Queued(a.header));
    EXPECT_TRUE(a.header.dwFlags.load() & WHDR_DONE);
    EXPECT_TRUE(Queued(b.header));

    rig.Step(300000);  // b (0.2 s) and c (0.1 s)
    std::vector<LPARAM> order;
    for (const auto& p : rig.posted) {
        if (p.msg != MM_WOM_DONE) continue;
        order.push_back(p.lParam);
        EXPECT_EQ(p.wParam, out);
    }
    EXPECT_EQ(order,
              (std::vector<LPARAM>{reinterpret_cast<LPARAM>(&a.header), reinterpret_cast<LPARAM>(&b.header),
                                   reinterpret_cast<LPARAM>(&c.header)}));
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
}

TEST(WaveOut, AQueuedHeaderCannotBeWrittenOrUnpreparedAgain) {
    WaveRig rig;
    HWAVEOUT out = OpenOut(rig);
    Buffer a(1600), unprepared(1600);
    EXPECT_EQ(waveOutWrite(out, &unprepared.header, kHdr), WAVERR_UNPREPARED);
    waveOutPrepareHeader(out, &a.header, kHdr);
    ASSERT_EQ(waveOutWrite(out, &a.header, kHdr), MMSYSERR_NOERROR);
    const DWORD flags = a.header.dwFlags.load();
    EXPECT_EQ(waveOutWrite(out, &a.header, kHdr), WAVERR_STILLPLAYING);
    EXPECT_EQ(a.header.dwFlags.load(), flags);
    EXPECT_EQ(waveOutUnprepareHeader(out, &a.header, kHdr), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutClose(out), WAVERR_STILLPLAYING);  // the device still holds a buffer

    rig.Step(200000);
    EXPECT_EQ(rig.Count(MM_WOM_DONE), 1);  // played once, not twice
    EXPECT_EQ(waveOutUnprepareHeader(out, &a.header, kHdr), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutWrite(out, &a.header, kHdr), WAVERR_UNPREPARED);
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    rig.Settle();
    EXPECT_EQ(rig.Count(MM_WOM_CLOSE), 1);
    EXPECT_EQ(waveOutWrite(out, &a.header, kHdr), MMSYSERR_INVALHANDLE);  // a closed handle stays dead
    EXPECT_EQ(waveOutClose(out), MMSYSERR_INVALHANDLE);
}

TEST(WaveOut, ResetReturnsEveryQueuedBufferAtOnceAndRecordsOnlyWhatWasPlayed) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("played.wav").toStdString();
    WaveRig rig("none", "null:" + path);
    HWAVEOUT out = OpenOut(rig);
    Buffer a(1600, 1000), b(1600, 2000);
    for (Buffer* x : {&a, &b}) {
        waveOutPrepareHeader(out, &x->header, kHdr);
        waveOutWrite(out, &x->header, kHdr);
    }
    rig.Step(250000);  // a played, b half way
    ASSERT_EQ(waveOutReset(out), MMSYSERR_NOERROR);
    EXPECT_FALSE(Queued(b.header));
    rig.Settle();
    EXPECT_EQ(rig.Count(MM_WOM_DONE), 2);
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);

    const std::vector<std::int16_t> played = wave_test::ReadSamples(path);
    ASSERT_EQ(played.size(), 1600u + 400u);
    EXPECT_EQ(played[1599], 1000);
    EXPECT_EQ(played[1600], 2000);
}

TEST(WaveOut, NullRecordsEveryPlayedSampleAndOnlyWholeSamplesOfAnOddLength) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("played.wav").toStdString();
    WaveRig rig("none", "null:" + path);
    HWAVEOUT out = OpenOut(rig);
    HWAVEOUT second = OpenOut(rig);  // the same file: this one must not write into it
    Buffer a(1600), b(1600), other(1600, 7);
    for (int i = 0; i < 1600; ++i) a.data[i] = static_cast<std::int16_t>(i);
    for (int i = 0; i < 1600; ++i) b.data[i] = static_cast<std::int16_t>(-i);
    b.header.dwBufferLength = 3041;  // 1,520 samples and one stray byte
    for (Buffer* x : {&a, &b}) {
        waveOutPrepareHeader(out, &x->header, kHdr);
        waveOutWrite(out, &x->header, kHdr);
    }
    waveOutPrepareHeader(second, &other.header, kHdr);
    waveOutWrite(second, &other.header, kHdr);
    rig.Step(400000);
    EXPECT_EQ(rig.Count(MM_WOM_DONE), 3);
    waveOutClose(out);
    waveOutClose(second);

    const std::vector<std::int16_t> played = wave_test::ReadSamples(path);
    ASSERT_EQ(played.size(), 1600u + 1520u);
    for (int i = 0; i < 1600; ++i) ASSERT_EQ(played[i], i);
    for (int i = 0; i < 1520; ++i) ASSERT_EQ(played[1600 + i], -i);
}

TEST(WaveOut, AnIdleDeviceStartsTheNextBufferWhenItIsWritten) {
    WaveRig rig;
    HWAVEOUT out = OpenOut(rig);
    Buffer a(1600);
    waveOutPrepareHeader(out, &a.header, kHdr);
    rig.Step(1000000);  // a second of nothing to play
    waveOutWrite(out, &a.header, kHdr);
    rig.Step(190000);
    EXPECT_EQ(rig.Count(MM_WOM_DONE), 0);  // no credit for the idle time
    rig.Step(10000);
    EXPECT_EQ(rig.Count(MM_WOM_DONE), 1);
    waveOutClose(out);
}

TEST(WaveIn, ToneFillsBuffersInOrderWithAContinuousSineOnlyWhileStarted) {
    WaveRig rig("tone:500", "null");
    HWAVEIN in = OpenIn(rig);
    ASSERT_NE(in, 0u);
    Buffer a(1600, 1), b(1600, 1);
    for (Buffer* x : {&a, &b}) {
        ASSERT_EQ(waveInPrepareHeader(in, &x->header, kHdr), MMSYSERR_NOERROR);
        ASSERT_EQ(waveInAddBuffer(in, &x->header, kHdr), MMSYSERR_NOERROR);
    }
    EXPECT_EQ(waveInAddBuffer(in, &a.header, kHdr), WAVERR_STILLPLAYING);
    rig.Step(400000);
    EXPECT_EQ(rig.Count(MM_WIM_DATA), 0);  // not started: nothing recorded
    ASSERT_EQ(waveInStart(in), MMSYSERR_NOERROR);
    rig.Step(400000);
    ASSERT_EQ(rig.Count(MM_WIM_DATA), 2);
    EXPECT_EQ(rig.posted.back().lParam, reinterpret_cast<LPARAM>(&b.header));
    EXPECT_EQ(a.header.dwBytesRecorded, 3200u);

    std::vector<std::int16_t> both(a.data);
    both.insert(both.end(), b.data.begin(), b.data.end());
    const int crossings = wave_test::RisingCrossings(both, 0, both.size());  // 500 Hz for 0.4 s
    EXPECT_GE(crossings, 199);
    EXPECT_LE(crossings, 200);
    int biggest_step = 0;
    for (std::size_t i = 1; i < both.size(); ++i)
        biggest_step = std::max(biggest_step, std::abs(both[i] - both[i - 1]));
    EXPECT_LT(biggest_step, 3200);  // no jump at the seam between the buffers
    waveInReset(in);
    waveInClose(in);
}

TEST(WaveIn, ResetHandsBackTheBufferBeingFilledWithWhatItHoldsAndTheRestEmpty) {
    WaveRig rig("tone:440", "null");
    HWAVEIN in = OpenIn(rig);
    Buffer a(1600), b(1600);
    for (Buffer* x : {&a, &b}) {
        waveInPrepareHeader(in, &x->header, kHdr);
        waveInAddBuffer(in, &x->header, kHdr);
    }
    waveInStart(in);
    rig.Step(50000);
    ASSERT_EQ(waveInReset(in), MMSYSERR_NOERROR);
    rig.Settle();
    ASSERT_EQ(rig.Count(MM_WIM_DATA), 2);
    EXPECT_EQ(a.header.dwBytesRecorded, 800u);  // 50 ms
    EXPECT_EQ(b.header.dwBytesRecorded, 0u);
    EXPECT_EQ(waveInUnprepareHeader(in, &a.header, kHdr), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
    rig.Settle();
    EXPECT_EQ(rig.Count(MM_WIM_CLOSE), 1);
}

TEST(WaveIn, FileLoopsItsSamplesAndRefusesAnotherRate) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("ramp.wav").toStdString();
    std::vector<std::int16_t> ramp(1000);
    for (int i = 0; i < 1000; ++i) ramp[i] = static_cast<std::int16_t>(i);
    ASSERT_TRUE(WriteWavFile(path, 8000, ramp, nullptr));
    WaveRig rig("file:" + path, "null");
    HWAVEIN in = OpenIn(rig);
    Buffer a(1600);
    waveInPrepareHeader(in, &a.header, kHdr);
    waveInAddBuffer(in, &a.header, kHdr);
    waveInStart(in);
    rig.Step(200000);
    ASSERT_EQ(rig.Count(MM_WIM_DATA), 1);
    EXPECT_EQ(a.data[999], 999);
    EXPECT_EQ(a.data[1000], 0);
    EXPECT_EQ(a.data[1599], 599);
    waveInClose(in);

    const std::string other = dir.filePath("fast.wav").toStdString();
    ASSERT_TRUE(WriteWavFile(other, 16000, ramp, nullptr));
    ASSERT_TRUE(SetWaveInBackend("file:" + other));
    HWAVEIN refused = 77;
    const WAVEFORMATEX f = Format8k();
    EXPECT_NE(waveInOpen(&refused, WAVE_MAPPER, &f, rig.window(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    EXPECT_EQ(refused, 0u);
    EXPECT_NE(WaveLastOpenError().find("16000"), std::string::npos) << WaveLastOpenError();
}

TEST(WaveBackends, ChoicesAreCheckedAndNoneOrABadFormatFailsToOpen) {
    WaveRig rig;
    std::string error;
    EXPECT_FALSE(SetWaveInBackend("null", &error));
    EXPECT_NE(error.find("tone"), std::string::npos) << error;
    EXPECT_FALSE(SetWaveInBackend("tone:abc", &error));
    EXPECT_FALSE(SetWaveInBackend("file:", &error));
    EXPECT_FALSE(SetWaveOutBackend("tone", &error));
    EXPECT_FALSE(SetWaveOutBackend("loud", &error));
    EXPECT_EQ(WaveOutBackend(), "null");  // a refused choice changes nothing
    EXPECT_TRUE(SetWaveOutBackend("null:x.wav"));
    EXPECT_TRUE(SetWaveInBackend("tone"));

    const WAVEFORMATEX good = Format8k();
    WAVEFORMATEX stereo = good;
    stereo.nChannels = 2;
    HWAVEOUT out = 0;
    EXPECT_EQ(waveOutOpen(&out, WAVE_MAPPER, &stereo, rig.window(), 0, CALLBACK_WINDOW), WAVERR_BADFORMAT);
    EXPECT_EQ(waveOutOpen(&out, 5, &good, rig.window(), 0, CALLBACK_WINDOW), MMSYSERR_BADDEVICEID);
    ASSERT_TRUE(SetWaveOutBackend("none"));
    EXPECT_NE(waveOutOpen(&out, WAVE_MAPPER, &good, rig.window(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    EXPECT_EQ(out, 0u);
    Buffer a(10);
    EXPECT_EQ(waveOutPrepareHeader(0, &a.header, kHdr), MMSYSERR_INVALHANDLE);
}

TEST(WaveBackends, AutoOutputAlwaysOpensAndAutoInputOpensOnlyWithASoundCard) {
    WaveRig rig("auto", "auto");
    HWAVEOUT out = 0;
    const WAVEFORMATEX f = Format8k();
    // With no sound card the output plays into nothing at the pace of the clock.
    ASSERT_EQ(waveOutOpen(&out, WAVE_MAPPER, &f, rig.window(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    HWAVEIN in = 0;
    if (waveInOpen(&in, WAVE_MAPPER, &f, rig.window(), 0, CALLBACK_WINDOW) == MMSYSERR_NOERROR) {
        EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
    } else {
        EXPECT_EQ(in, 0u);
        EXPECT_NE(WaveLastOpenError().find("tone"), std::string::npos) << WaveLastOpenError();
    }
}

TEST(WaveClocks, TheSteadyClockPacesARealDevice) {
    WaveRig rig;
    SetWaveClock(nullptr);  // real time for this device
    HWAVEOUT out = OpenOut(rig);
    Buffer a(80);  // 10 ms
    waveOutPrepareHeader(out, &a.header, kHdr);
    waveOutWrite(out, &a.header, kHdr);
    EXPECT_TRUE(RunUntil([&] { return rig.Count(MM_WOM_DONE) == 1; }, 5000));
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
}

TEST(WaveAlsa, TheNullPluginRunsThroughTheSoundCardPathBothWays) {
    WaveRig rig("alsa:null", "alsa:null");
    SetWaveClock(nullptr);  // real time: the card path paces itself
    HWAVEOUT out = 0;
    const WAVEFORMATEX f = Format8k();
    if (waveOutOpen(&out, WAVE_MAPPER, &f, rig.window(), 0, CALLBACK_WINDOW) != MMSYSERR_NOERROR) {
        GTEST_SKIP() << "no ALSA null device here: " << WaveLastOpenError();
    }
    Buffer a(1600, 100), b(1600, 200);
    for (Buffer* x : {&a, &b}) {
        waveOutPrepareHeader(out, &x->header, kHdr);
        waveOutWrite(out, &x->header, kHdr);
    }
    ASSERT_TRUE(RunUntil([&] { return rig.Count(MM_WOM_DONE) == 2; }, 5000));
    EXPECT_EQ(rig.posted.back().lParam, reinterpret_cast<LPARAM>(&b.header));
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);

    HWAVEIN in = 0;
    ASSERT_EQ(waveInOpen(&in, WAVE_MAPPER, &f, rig.window(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    Buffer c(1600, 1), d(1600, 1);
    for (Buffer* x : {&c, &d}) {
        waveInPrepareHeader(in, &x->header, kHdr);
        waveInAddBuffer(in, &x->header, kHdr);
    }
    waveInStart(in);
    ASSERT_TRUE(RunUntil([&] { return rig.Count(MM_WIM_DATA) == 2; }, 5000));
    EXPECT_EQ(c.header.dwBytesRecorded, 3200u);
    EXPECT_EQ(waveInReset(in), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
}
