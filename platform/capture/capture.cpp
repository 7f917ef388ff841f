#include "platform/capture/capture.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QObject>
#include <QSocketNotifier>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/capture/timestamp.h"

namespace platform {

void FlipRows(const std::uint8_t* from, std::uint8_t* to) {
    constexpr std::size_t row = kCaptureWidth * 3;
    for (int y = 0; y < kCaptureHeight; ++y) {
        std::memcpy(to + (kCaptureHeight - 1 - y) * row, from + y * row, row);
    }
}

const char* CaptureSourceHelp() {
    return "auto (the first camera, else the test picture), testpattern, v4l2[:/dev/videoN], "
           "raw:PATH or raw:- (320x240 bgr24 frames, top-down, as ffmpeg -f rawvideo -pix_fmt bgr24 writes "
           "them)";
}

namespace {

std::unique_ptr<CaptureSource> FirstCamera() {
    for (int i = 0; i <= 9; ++i) {
        auto camera = MakeV4l2Source("/dev/video" + std::to_string(i));
        if (!camera) return nullptr;  // built without camera support
        std::string ignored;
        if (camera->Open(&ignored)) {
            camera->Close();
            return camera;
        }
    }
    return nullptr;
}

}  // namespace

std::unique_ptr<CaptureSource> MakeCaptureSource(const std::string& text, double fps, std::string* error,
                                                 std::string* note) {
    if (!(fps > 0 && fps <= 1000)) {
        *error = "the frame rate must be more than 0 and at most 1000 frames per second";
        return nullptr;
    }
    if (text == "testpattern") return MakeTestPatternSource(fps);
    if (text.rfind("raw:", 0) == 0) {
        if (text.size() == 4) {
            *error = "raw: needs a file name, or - for standard input";
            return nullptr;
        }
        return MakeRawSource(text.substr(4), fps);
    }
    if (text == "v4l2" || text.rfind("v4l2:", 0) == 0) {
        const std::string device = text.size() > 5 ? text.substr(5) : "/dev/video0";
        auto camera = MakeV4l2Source(device);
        if (!camera) *error = "this build has no camera support (libv4l2 was not found when it was built)";
        return camera;
    }
    if (text == "auto") {
        if (auto camera = FirstCamera()) {
            *note = "capture: " + camera->Name();
            return camera;
        }
        *note = "capture: no camera found; showing the test picture";
        return MakeTestPatternSource(fps);
    }
    *error = "unknown capture source \"" + text + "\"; use " + CaptureSourceHelp();
    return nullptr;
}

CaptureDriver::CaptureDriver() : context_(std::make_unique<QObject>()) {
    for (auto& b : buffers_) b.assign(kCaptureFrameBytes, 0);
}

CaptureDriver::~CaptureDriver() {
    Stop();
}

std::string CaptureDriver::SourceName() const {
    return source_ ? source_->Name() : std::string();
}

bool CaptureDriver::Start(const std::string& text, double fps, std::string* error) {
    std::string note;
    auto source = MakeCaptureSource(text, fps, error, &note);
    if (!source) return false;
    if (!note.empty()) ReportNow(note);
    return Start(std::move(source), error);
}

bool CaptureDriver::Start(std::unique_ptr<CaptureSource> source, std::string* error) {
    Stop();
    std::string why;
    open_ = source->Open(&why);
    lost_reported_ = false;
    ended_ = false;
    if (!open_) {
        if (!source->Reopens()) {
            *error = source->Name() + ": " + why;
            return false;
        }
        ReportNow("capture: " + source->Name() + " cannot be opened (" + why + "); waiting for it");
        lost_reported_ = true;
    }
    source_ = std::move(source);
    stop_ = false;
    fresh_ = false;
    if (!manual_) {
        wake_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (wake_fd_ < 0) {
            *error = "cannot make the capture thread's wake-up channel";
            source_.reset();
            return false;
        }
        wake_notifier_ = std::make_unique<QSocketNotifier>(wake_fd_, QSocketNotifier::Read);
        QObject::connect(wake_notifier_.get(), &QSocketNotifier::activated, [this] {
            std::uint64_t count = 0;
            [[maybe_unused]] ssize_t n = ::read(wake_fd_, &count, sizeof count);
            in_wake_ = true;
            DeliverPublished();
            in_wake_ = false;
        });
        device_ = std::thread([this] { RunDevice(); });
    }
    return true;
}

void CaptureDriver::Stop() {
    if (!source_) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (device_.joinable()) device_.join();
    // Pictures and reports still on their way to the window thread are dropped.
    if (in_wake_ && wake_notifier_) {
        // Stopped by the frame callback: the notifier is still emitting, so it goes once that is done.
        wake_notifier_->setEnabled(false);
        wake_notifier_.release()->deleteLater();
    }
    wake_notifier_.reset();
    if (wake_fd_ >= 0) ::close(wake_fd_);
    wake_fd_ = -1;
    QCoreApplication::removePostedEvents(context_.get());
    if (open_) source_->Close();
    open_ = false;
    source_.reset();
}

bool CaptureDriver::WaitFor(int ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop_.load(); });
}

void CaptureDriver::ReportNow(const std::string& line) {
    if (on_report_) {
        on_report_(line);
    } else {
        std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
    }
}

void CaptureDriver::Report(const std::string& line) {
    if (manual_) {
        ReportNow(line);
        return;
    }
    QMetaObject::invokeMethod(
        context_.get(), [this, line] { ReportNow(line); }, Qt::QueuedConnection);
}

// One attempt: opens a lost camera again if it is back, then reads one picture.
CaptureDriver::StepResult CaptureDriver::Step(std::uint8_t* frame, std::int64_t* capture_micros) {
    if (ended_) return StepResult::kEnded;
    if (!open_) {
        std::string why;
        if (!source_->Open(&why)) return StepResult::kNoFrame;
        open_ = true;
        if (lost_reported_) Report("capture: " + source_->Name() + " is back");
        lost_reported_ = false;
    }
    switch (source_->Read(frame, capture_micros)) {
        case CaptureRead::kFrame:
            return StepResult::kFrame;
        case CaptureRead::kNoFrame:
            return StepResult::kNoFrame;
        case CaptureRead::kLost:
            source_->Close();
            open_ = false;
            if (!lost_reported_) Report("capture: " + source_->Name() + " lost; waiting for it to come back");
            lost_reported_ = true;
            return StepResult::kNoFrame;
        case CaptureRead::kEnded:
            break;
    }
    ended_ = true;
    Report("capture: " + source_->Name() + " has ended; no more pictures");
    return StepResult::kEnded;
}

void CaptureDriver::RunDevice() {
    using Clock = std::chrono::steady_clock;
    const double fps = source_->PacedFps();
    const auto period =
        fps > 0 ? std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / fps))
                : Clock::duration::zero();
    auto next = Clock::now();
    for (;;) {
        if (!open_ && !WaitFor(retry_ms_)) return;
        if (fps > 0) {
            std::unique_lock<std::mutex> lock(mutex_);
            if (wake_.wait_until(lock, next, [this] { return stop_.load(); })) return;
            next += period;
            if (next < Clock::now() - period) next = Clock::now();  // fell behind: do not catch up in a burst
        } else if (stop_) {
            return;
        }
        std::int64_t micros = 0;
        const StepResult r = Step(buffers_[writing_].data(), &micros);
        if (r == StepResult::kEnded) return;
        if (r == StepResult::kFrame) Publish(micros);
    }
}

void CaptureDriver::Publish(std::int64_t capture_micros) {
    bool post = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::swap(writing_, ready_);
        ready_micros_ = capture_micros;
        post = !fresh_;  // one wake-up carries the newest picture, however many arrive before it is handled
        fresh_ = true;
    }
    if (post) {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wake_fd_, &one, sizeof one);
    }
}

void CaptureDriver::DeliverPublished() {
    std::int64_t micros = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!fresh_) return;
        std::swap(reading_, ready_);
        micros = ready_micros_;
        fresh_ = false;
    }
    Deliver(buffers_[reading_].data(), micros);
}

void CaptureDriver::Deliver(const std::uint8_t* frame, std::int64_t capture_micros) {
    ++delivered_;
    if (!on_frame_) return;
    CaptureFrame f;
    f.data = frame;
    f.length = kCaptureFrameBytes;
    f.capture_micros = capture_micros;
    f.sequence = delivered_;
    on_frame_(f);
}

bool CaptureDriver::DeliverNextFrame() {
    if (!source_ || !manual_) return false;
    std::int64_t micros = 0;
    if (Step(buffers_[reading_].data(), &micros) != StepResult::kFrame) return false;
    Deliver(buffers_[reading_].data(), micros);
    return true;
}

}  // namespace platform
