#include "platform/capture/capture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/capture/testpattern.h"
#include "platform/capture/timestamp.h"
#include "platform/window/window.h"

using namespace platform;

namespace {

constexpr std::size_t kRow = 960;

struct Delivered {
    std::vector<std::vector<std::uint8_t>> frames;
    std::vector<std::int64_t> times;
    std::vector<std::string> reports;
    std::vector<std::thread::id> threads;
};

void Collect(CaptureDriver& driver, Delivered& d) {
    driver.SetFrameCallback([&d](const CaptureFrame& f) {
        d.frames.emplace_back(f.data, f.data + f.length);
        d.times.push_back(f.capture_micros);
        d.threads.push_back(std::this_thread::get_id());
    });
    driver.SetReportCallback([&d](const std::string& line) { d.reports.push_back(line); });
}

// A top-down frame as ffmpeg writes it: every byte is `value`, except the first (top) row, which is 255.
std::vector<std::uint8_t> RawFrame(std::uint8_t value) {
    std::vector<std::uint8_t> f(kCaptureFrameBytes, value);
    std::fill(f.begin(), f.begin() + kRow, 255);
    return f;
}

std::string WriteFile(const QTemporaryDir& dir, const char* name, const std::vector<std::uint8_t>& bytes) {
    const std::string path = dir.filePath(name).toStdString();
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return path;
}

// A camera that follows a script: each Read takes the next step; 'f' a frame, 'l' lost, '-' nothing.
// Open fails while `absent` is set.
class ScriptedCamera : public CaptureSource {
  public:
    explicit ScriptedCamera(std::string script) : script_(std::move(script)) {}
    std::string Name() const override { return "camera test"; }
    bool Open(std::string* error) override {
        ++opens;
        if (absent) *error = "No such device";
        return !absent;
    }
    CaptureRead Read(std::uint8_t* frame, std::int64_t* t) override {
        const std::size_t i = step++;
        const char c = i < script_.size() ? script_[i] : '-';
        if (c == 'l') absent = true;  // unplugged: opening fails until it is back
        if (c == '-') std::this_thread::sleep_for(std::chrono::milliseconds(1));  // as a camera waits
        if (c != 'f') return c == 'l' ? CaptureRead::kLost : CaptureRead::kNoFrame;
        std::fill(frame, frame + kCaptureFrameBytes, static_cast<std::uint8_t>(i));
        *t = static_cast<std::int64_t>(i);
        return CaptureRead::kFrame;
    }
    void Close() override { ++closes; }
    double PacedFps() const override { return 0; }
    bool Reopens() const override { return true; }

    std::atomic<bool> absent{false};
    std::atomic<int> opens{0};
    std::atomic<int> closes{0};
    std::atomic<std::size_t> step{0};

  private:
    std::string script_;
};

}  // namespace

TEST(Capture, TestPictureIsBottomUpMovingAndStampedWithItsCaptureTime) {
    CaptureDriver driver;
    Delivered d;
    Collect(driver, d);
    driver.SetManualDelivery(true);
    std::int64_t now = 5'000'000;
    std::string error;
    ASSERT_TRUE(driver.Start(MakeTestPatternSource(15, [&] { return now += 66'667; }), &error)) << error;
    ASSERT_TRUE(driver.DeliverNextFrame());
    ASSERT_TRUE(driver.DeliverNextFrame());
    ASSERT_EQ(d.frames.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(d.times[i], 5'000'000 + 66'667 * (i + 1));
        EXPECT_EQ(ReadTimeStamp(d.frames[i].data()), d.times[i]);
    }
    // The scene's top line is the buffer's last row: the first colour bar (white at 3/4 level) at its left.
    const std::uint8_t* top = d.frames[0].data() + 239 * kRow;
    EXPECT_EQ(top[0], 191);
    EXPECT_EQ(top[2], 191);
    const std::uint8_t* last_bar = top + 300 * 3;  // black bar
    EXPECT_EQ(last_bar[0] + last_bar[1] + last_bar[2], 0);
    // The square moved between the frames.
    EXPECT_NE(TestPattern::SquareLeft(0), TestPattern::SquareLeft(1));
    EXPECT_NE(d.frames[0], d.frames[1]);
    EXPECT_EQ(driver.FramesDelivered(), 2u);
}

TEST(Capture, SquareBouncesWithinThePicture) {
    for (std::uint64_t n = 0; n < 400; ++n) {
        const int left = TestPattern::SquareLeft(n);
        EXPECT_GE(left, 0);
        EXPECT_LE(left + TestPattern::kSquareSize, TestPattern::kWidth);
    }
}

TEST(Capture, RawFileFramesAreFlippedDeliveredInOrderAndLooped) {
    QTemporaryDir dir;
    std::vector<std::uint8_t> bytes = RawFrame(10);
    const auto second = RawFrame(20);
    bytes.insert(bytes.end(), second.begin(), second.end());
    bytes.insert(bytes.end(), 1000, 99);  // a partial frame at the end is dropped
    const std::string path = WriteFile(dir, "clip.bgr", bytes);

    CaptureDriver driver;
    Delivered d;
    Collect(driver, d);
    driver.SetManualDelivery(true);
    std::string error;
    ASSERT_TRUE(driver.Start("raw:" + path, 25, &error)) << error;
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(driver.DeliverNextFrame());
    const std::uint8_t expected[3] = {10, 20, 10};
    for (int i = 0; i < 3; ++i) {
        const auto& f = d.frames[i];
        EXPECT_EQ(f[0], expected[i]);        // bottom row first
        EXPECT_EQ(f[239 * kRow], 255) << i;  // the file's top row is the buffer's last
        EXPECT_EQ(f[238 * kRow], expected[i]) << i;
    }
    EXPECT_TRUE(d.reports.empty());
}

TEST(Capture, RawSourcesThatCannotWorkAreRefusedWithAReason) {
    QTemporaryDir dir;
    CaptureDriver driver;
    std::string error;
    const std::string short_file = WriteFile(dir, "short.bgr", std::vector<std::uint8_t>(1000, 1));
    EXPECT_FALSE(driver.Start("raw:" + short_file, 15, &error));
    EXPECT_NE(error.find("no whole 320 x 240 BGR24 frame (1000 bytes"), std::string::npos) << error;
    EXPECT_FALSE(driver.Start("raw:" + dir.filePath("missing.bgr").toStdString(), 15, &error));
    EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
    EXPECT_FALSE(driver.Start("raw:", 15, &error));
    EXPECT_FALSE(driver.Start("camera", 15, &error));
    EXPECT_NE(error.find("unknown capture source \"camera\""), std::string::npos) << error;
    EXPECT_FALSE(driver.Start("testpattern", 0, &error));
    EXPECT_FALSE(driver.Running());
}

TEST(Capture, RawStandardInputEndsOnceWhenTheWriterCloses) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const int saved_stdin = dup(0);
    ASSERT_EQ(dup2(fds[0], 0), 0);
    close(fds[0]);
    const auto frame = RawFrame(7);
    std::thread writer([&] {
        // In pieces, as a pipe delivers them.
        for (std::size_t at = 0; at < frame.size(); at += 50'000) {
            const std::size_t n = std::min<std::size_t>(50'000, frame.size() - at);
            if (write(fds[1], frame.data() + at, n) != static_cast<ssize_t>(n)) break;
        }
        close(fds[1]);
    });
    {
        CaptureDriver driver;
        Delivered d;
        Collect(driver, d);
        driver.SetManualDelivery(true);
        std::string error;
        ASSERT_TRUE(driver.Start("raw:-", 15, &error)) << error;
        for (int i = 0; i < 50 && d.frames.empty(); ++i) driver.DeliverNextFrame();
        ASSERT_EQ(d.frames.size(), 1u);
        EXPECT_EQ(d.frames[0][239 * kRow], 255);
        writer.join();
        for (int i = 0; i < 3; ++i) EXPECT_FALSE(driver.DeliverNextFrame());
        ASSERT_EQ(d.reports.size(), 1u);
        EXPECT_NE(d.reports[0].find("has ended"), std::string::npos);
    }
    dup2(saved_stdin, 0);
    close(saved_stdin);
}

TEST(Capture, LostCameraIsReportedOnceAndReopenedWhenBack) {
    auto owned = std::make_unique<ScriptedCamera>("ff-l");
    ScriptedCamera& camera = *owned;
    CaptureDriver driver;
    Delivered d;
    Collect(driver, d);
    driver.SetManualDelivery(true);
    std::string error;
    ASSERT_TRUE(driver.Start(std::move(owned), &error));
    EXPECT_TRUE(driver.DeliverNextFrame());
    EXPECT_TRUE(driver.DeliverNextFrame());
    EXPECT_FALSE(driver.DeliverNextFrame());                              // '-'
    EXPECT_FALSE(driver.DeliverNextFrame());                              // 'l': lost
    for (int i = 0; i < 5; ++i) EXPECT_FALSE(driver.DeliverNextFrame());  // still away
    ASSERT_EQ(d.reports.size(), 1u);
    EXPECT_EQ(d.reports[0], "capture: camera test lost; waiting for it to come back");
    EXPECT_EQ(camera.closes, 1);
    camera.absent = false;                    // plugged in again
    EXPECT_FALSE(driver.DeliverNextFrame());  // opens; its script says '-' from here on
    ASSERT_EQ(d.reports.size(), 2u);
    EXPECT_EQ(d.reports[1], "capture: camera test is back");
    EXPECT_EQ(d.frames.size(), 2u);
}

TEST(Capture, CameraAbsentAtStartIsWaitedForNotRefused) {
    auto owned = std::make_unique<ScriptedCamera>("f");
    owned->absent = true;
    ScriptedCamera& camera = *owned;
    CaptureDriver driver;
    Delivered d;
    Collect(driver, d);
    driver.SetManualDelivery(true);
    std::string error;
    ASSERT_TRUE(driver.Start(std::move(owned), &error));
    ASSERT_EQ(d.reports.size(), 1u);
    EXPECT_EQ(d.reports[0], "capture: camera test cannot be opened (No such device); waiting for it");
    EXPECT_FALSE(driver.DeliverNextFrame());
    camera.absent = false;
    EXPECT_TRUE(driver.DeliverNextFrame());
    EXPECT_EQ(d.reports.size(), 2u);
}

TEST(Capture, AutoFallsBackToTheTestPictureWithOneLine) {
    if (QDir("/dev").entryList({"video*"}, QDir::System).size() > 0)
        GTEST_SKIP() << "this machine has cameras";
    CaptureDriver driver;
    Delivered d;
    Collect(driver, d);
    driver.SetManualDelivery(true);
    std::string error;
    ASSERT_TRUE(driver.Start("auto", 15, &error)) << error;
    ASSERT_EQ(d.reports.size(), 1u);
    EXPECT_EQ(d.reports[0], "capture: no camera found; showing the test picture");
    EXPECT_EQ(driver.SourceName(), "the test picture");
    ASSERT_TRUE(driver.DeliverNextFrame());
    EXPECT_TRUE(ReadTimeStamp(d.frames[0].data()).has_value());
}

#ifdef STREAM_HAVE_V4L2
TEST(Capture, MissingCameraDeviceIsReportedAndWaitedFor) {
    CaptureDriver driver;
    Delivered d;
    Collect(driver, d);
    driver.SetManualDelivery(true);
    std::string error;
    ASSERT_TRUE(driver.Start("v4l2:/dev/no-such-video", 15, &error)) << error;
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(driver.DeliverNextFrame());
    ASSERT_EQ(d.reports.size(), 1u);
    EXPECT_NE(d.reports[0].find("camera /dev/no-such-video cannot be opened"), std::string::npos);
}
#endif

TEST(Capture, DeviceThreadDeliversOnTheWindowThreadAndNothingAfterStop) {
    CaptureDriver driver;
    Delivered d;
    Collect(driver, d);
    std::string error;
    ASSERT_TRUE(driver.Start("testpattern", 200, &error)) << error;
    ASSERT_TRUE(RunUntil([&] { return d.frames.size() >= 3; }, 5000));
    driver.Stop();
    const std::size_t after_stop = d.frames.size();
    DoEvents();
    EXPECT_EQ(d.frames.size(), after_stop);
    for (auto id : d.threads) EXPECT_EQ(id, std::this_thread::get_id());
    for (std::size_t i = 1; i < d.times.size(); ++i) EXPECT_GT(d.times[i], d.times[i - 1]);
    for (const auto& f : d.frames) EXPECT_EQ(ReadTimeStamp(f.data()).has_value(), true);
}

TEST(Capture, DeviceThreadReopensALostCamera) {
    auto owned = std::make_unique<ScriptedCamera>("fl");
    ScriptedCamera& camera = *owned;
    CaptureDriver driver;
    Delivered d;
    Collect(driver, d);
    driver.SetRetryInterval(5);
    std::string error;
    ASSERT_TRUE(driver.Start(std::move(owned), &error));
    ASSERT_TRUE(RunUntil([&] { return d.reports.size() == 1; }, 5000));
    EXPECT_NE(d.reports[0].find("lost"), std::string::npos);
    camera.absent = false;
    ASSERT_TRUE(RunUntil([&] { return d.reports.size() == 2; }, 5000));
    EXPECT_NE(d.reports[1].find("is back"), std::string::npos);
    EXPECT_GE(camera.opens, 2);
    driver.Stop();  // closes and drops the camera
    EXPECT_EQ(d.frames.size(), 1u);
}

TEST(Capture, FlipRowsTurnsTopDownIntoBottomUpAndBack) {
    std::vector<std::uint8_t> a(kCaptureFrameBytes), b(kCaptureFrameBytes), c(kCaptureFrameBytes);
    for (std::size_t i = 0; i < a.size(); ++i) a[i] = static_cast<std::uint8_t>(i / kRow);
    FlipRows(a.data(), b.data());
    EXPECT_EQ(b[0], 239);
    EXPECT_EQ(b[239 * kRow + 5], 0);
    FlipRows(b.data(), c.data());
    EXPECT_EQ(a, c);
}

TEST(Capture, FrameCallbackMayStopTheDriver) {
    CaptureDriver driver;
    int frames = 0;
    driver.SetFrameCallback([&](const CaptureFrame&) {
        ++frames;
        driver.Stop();  // as a shutdown started from the callback would
    });
    std::string error;
    ASSERT_TRUE(driver.Start("testpattern", 200, &error)) << error;
    ASSERT_TRUE(RunUntil([&] { return frames == 1; }, 5000));
    EXPECT_FALSE(driver.Running());
    DoEvents();
    EXPECT_EQ(frames, 1);
}
