// platform/capture, picture sources: the capture driver below (V4L2 cameras, the test picture, raw frames),
// the moving test picture (testpattern.h) and the capture time stamp that pictures carry (timestamp.h). It
// needs Qt Core and the picture's geometry (media/picture_geometry.h), no other platform room.
//
// The capture driver: delivers each new 320 x 240 picture, 3 bytes per pixel (B, G, R), rows bottom-up
// (row 0 of the buffer is the bottom line of the scene, as a device-independent bitmap holds it), to a
// frame callback on the window thread. Sources, named by a text:
//   v4l2[:/dev/videoN]  a camera through libv4l2, converted to BGR24 and scaled to 320 x 240
//   testpattern         the moving, time-stamped test picture (testpattern.h)
//   raw:PATH, raw:-     BGR24 320 x 240 frames back to back, top-down as ffmpeg's rawvideo writes them,
//                       from a file (looped) or standard input
//   auto                the first camera of /dev/video0 to /dev/video9 that opens, else the test picture
// The test picture and raw frames are paced at a given rate; a camera paces itself. A device thread reads
// the source and hands each picture to the window thread; a camera that goes away is reported once and
// opened again when it comes back, with no frames meanwhile.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/picture_geometry.h"

class QObject;
class QSocketNotifier;

namespace platform {

inline constexpr int kCaptureWidth = media::kPictureWidth;
inline constexpr int kCaptureHeight = media::kPictureHeight;
inline constexpr std::size_t kCaptureFrameBytes = media::kPictureBytes;
inline constexpr double kDefaultCaptureFps = 15;

// One delivered picture; data stays valid until the callback returns.
struct CaptureFrame {
    const std::uint8_t* data = nullptr;  // kCaptureFrameBytes, BGR, rows bottom-up
    std::size_t length = 0;
    std::int64_t capture_micros = 0;  // MonotonicMicros() when the picture was taken
    std::uint64_t sequence = 0;       // 1 for the first picture the driver delivers
};

enum class CaptureRead {
    kFrame,    // a picture was written
    kNoFrame,  // none ready yet; try again
    kLost,     // the device went away; close it and open it again later
    kEnded,    // the input has ended for good (end of a stream, a read error)
};

// A source of pictures. Open, Read and Close run on one thread at a time (the device thread, or the
// window thread when frames are delivered by hand). Read waits at most about 0.2 s.
class CaptureSource {
  public:
    virtual ~CaptureSource() = default;
    // For reports: "camera /dev/video0", "the test picture", "raw:clip.bgr".
    virtual std::string Name() const = 0;
    virtual bool Open(std::string* error) = 0;
    // Writes the next picture (kCaptureFrameBytes, bottom-up) and the time it was taken.
    virtual CaptureRead Read(std::uint8_t* frame, std::int64_t* capture_micros) = 0;
    virtual void Close() = 0;
    // Pictures per second to pace reads at; 0 when the source paces itself.
    virtual double PacedFps() const = 0;
    // Whether a source that fails to open (or is lost) is tried again until it opens: cameras are.
    virtual bool Reopens() const { return false; }
};

// Makes the source a text names; nullptr and *error when the text names none. For "auto", *note says
// which source was chosen (or that no camera was found). fps paces the test picture and raw frames.
std::unique_ptr<CaptureSource> MakeCaptureSource(const std::string& text, double fps, std::string* error,
                                                 std::string* note);

// The source texts, for --help.
const char* CaptureSourceHelp();

std::unique_ptr<CaptureSource> MakeTestPatternSource(double fps, std::function<std::int64_t()> clock = {});
std::unique_ptr<CaptureSource> MakeRawSource(const std::string& path, double fps);
// Null when the build has no camera support.
std::unique_ptr<CaptureSource> MakeV4l2Source(const std::string& device);

// Turns a top-down frame (ffmpeg's rawvideo order) into a bottom-up one, or back.
void FlipRows(const std::uint8_t* from, std::uint8_t* to);

class CaptureDriver {
  public:
    using FrameCallback = std::function<void(const CaptureFrame&)>;
    using ReportCallback = std::function<void(const std::string& line)>;

    CaptureDriver();
    ~CaptureDriver();
    CaptureDriver(const CaptureDriver&) = delete;
    CaptureDriver& operator=(const CaptureDriver&) = delete;

    void SetFrameCallback(FrameCallback callback) { on_frame_ = std::move(callback); }
    // Lines for the user (a lost camera, the choice of "auto"); without a callback they go to standard
    // error. Always called on the window thread.
    void SetReportCallback(ReportCallback callback) { on_report_ = std::move(callback); }
    // How long to wait between attempts to open a lost camera again.
    void SetRetryInterval(int ms) { retry_ms_ = ms; }
    // With manual delivery no device thread runs: each DeliverNextFrame reads one picture on the calling
    // thread and delivers it at once. Tests and tools use it to need no real-time waits. Set before Start.
    void SetManualDelivery(bool manual) { manual_ = manual; }

    // Starts capturing from the source a text names; false and *error for an unknown text or a source
    // that cannot be opened (a camera that cannot be opened yet is reported and waited for instead).
    bool Start(const std::string& text, double fps, std::string* error);
    bool Start(std::unique_ptr<CaptureSource> source, std::string* error);
    // Stops the device thread and closes the source; no frame callback comes after it returns.
    void Stop();
    bool Running() const { return source_ != nullptr; }
    std::string SourceName() const;

    // Manual delivery: tries to take one picture and deliver it. Returns whether a frame was delivered.
    bool DeliverNextFrame();

    std::uint64_t FramesDelivered() const { return delivered_; }

  private:
    enum class StepResult { kFrame, kNoFrame, kEnded };
    StepResult Step(std::uint8_t* frame, std::int64_t* capture_micros);
    void RunDevice();
    void Report(const std::string& line);
    void ReportNow(const std::string& line);
    void Publish(std::int64_t capture_micros);
    void DeliverPublished();
    void Deliver(const std::uint8_t* frame, std::int64_t capture_micros);
    bool WaitFor(int ms);

    FrameCallback on_frame_;
    ReportCallback on_report_;
    int retry_ms_ = 1000;
    bool manual_ = false;

    std::unique_ptr<CaptureSource> source_;
    std::unique_ptr<QObject> context_;  // lives on the window thread; reports are posted to it
    // The device thread wakes the window thread through an eventfd: no allocation per picture, and any
    // number of pictures published before the window thread looks make one wake-up.
    int wake_fd_ = -1;
    std::unique_ptr<QSocketNotifier> wake_notifier_;
    bool in_wake_ = false;  // a picture is being delivered from the notifier
    std::thread device_;
    std::uint64_t delivered_ = 0;

    // State of the reading side (device thread, or window thread with manual delivery).
    bool open_ = false;
    bool lost_reported_ = false;
    bool ended_ = false;

    // Three fixed picture buffers: the device thread fills one, one waits for the window thread, and the
    // window thread delivers from the third; the newest picture wins when the window thread is slow.
    std::vector<std::uint8_t> buffers_[3];
    int writing_ = 0;
    int ready_ = 1;
    int reading_ = 2;
    bool fresh_ = false;
    std::int64_t ready_micros_ = 0;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::atomic<bool> stop_ = false;
};

}  // namespace platform
