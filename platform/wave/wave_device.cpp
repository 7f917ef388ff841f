// The device thread: works off the queued headers in order, each in its turn, and reports each finished
// one to the window.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/wave/wave_internal.h"

namespace platform::wave_internal {
namespace {

// Samples moved per call to a sound card, so that a reset is answered within about 50 ms.
constexpr std::size_t kCardChunk = 400;
// How far a sound card's stream may run ahead of the device clock.
constexpr std::int64_t kMostAheadMicros = 1000000;

static_assert(sizeof(DWORD_PTR) >= sizeof(std::int64_t), "the queue time is kept in WAVEHDR::reserved");

std::int64_t QueuedAt(const WAVEHDR* h) {
    return static_cast<std::int64_t>(h->reserved);
}

}  // namespace

WaveDevice::WaveDevice(bool input, std::uint32_t handle, HWND window, std::unique_ptr<WaveBackend> backend,
                       std::shared_ptr<WaveClock> clock, unsigned rate)
    : input_(input),
      handle_(handle),
      window_(window),
      backend_(std::move(backend)),
      clock_(std::move(clock)),
      rate_(rate),
      epoch_(clock_->Now()) {}

WaveDevice::~WaveDevice() {
    Shutdown();
}

void WaveDevice::Launch() {
    clock_->Attach();  // before the thread runs, so that a manual clock never takes it for asleep
    thread_ = std::thread([this] { Run(); });
    Post(input_ ? MM_WIM_OPEN : MM_WOM_OPEN, nullptr);
}

void WaveDevice::Shutdown() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        idle_.notify_all();
    }
    Wake();
    thread_.join();
    clock_->Detach();
    Post(input_ ? MM_WIM_CLOSE : MM_WOM_CLOSE, nullptr);
}

void WaveDevice::Wake() {
    token_.fetch_add(1);
    clock_->Notify();
}

void WaveDevice::Post(UINT msg, WAVEHDR* header) {
    if (window_ == nullptr) return;
    PostMessage(window_, msg, handle_, reinterpret_cast<LPARAM>(header));
}

std::int64_t WaveDevice::SamplesAt(std::int64_t time) const {
    return std::max<std::int64_t>(0, (time - epoch_) * rate_ / 1000000);
}

std::int64_t WaveDevice::TimeOf(std::int64_t samples) const {
    return epoch_ + (samples * 1000000 + rate_ - 1) / rate_;
}

bool WaveDevice::HasQueued() {
    std::lock_guard lock(mutex_);
    return head_ != nullptr;
}

MMRESULT WaveDevice::Queue(WAVEHDR* h) {
    {
        std::lock_guard lock(mutex_);
        const DWORD flags = h->dwFlags.load();
        if (!(flags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
        if (flags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
        if (input_) h->dwBytesRecorded = 0;
        h->reserved = static_cast<DWORD_PTR>(clock_->Now());
        h->lpNext = nullptr;
        h->dwFlags.store((flags & ~WHDR_DONE) | WHDR_INQUEUE);
        (tail_ ? tail_->lpNext : head_) = h;
        tail_ = h;
    }
    Wake();
    return MMSYSERR_NOERROR;
}

MMRESULT WaveDevice::Start() {
    {
        std::lock_guard lock(mutex_);
        if (!input_ || started_) return MMSYSERR_NOERROR;
        started_ = true;
        cursor_ = std::max(cursor_, SamplesAt(clock_->Now()));
        if (backend_->PacesItself()) backend_->Start();
    }
    Wake();
    return MMSYSERR_NOERROR;
}

void WaveDevice::WaitUntilIdle(std::unique_lock<std::mutex>& lock) {
    abort_ = true;
    Wake();
    idle_.wait(lock, [&] { return !busy_; });
}

// Ends the front buffer where the stream stands now and says how many of its samples it holds: a sound
// card's buffer what it has moved so far, a clock-paced one what its time so far covers.
std::size_t WaveDevice::FinishFrontEarly() {
    WAVEHDR* h = head_;
    const std::size_t count = h->dwBufferLength / 2;
    if (backend_->PacesItself() && !broken_) return std::min(front_done_, count);
    const std::int64_t start = FrontStart(h);
    const std::int64_t elapsed =
        std::clamp<std::int64_t>(SamplesAt(clock_->Now()) - start, 0, static_cast<std::int64_t>(count));
    if (elapsed > 0 && !broken_) backend_->Transfer(h->lpData, static_cast<std::size_t>(elapsed), start);
    cursor_ = std::max(cursor_, start + elapsed);
    return static_cast<std::size_t>(elapsed);
}

MMRESULT WaveDevice::Stop() {
    std::unique_lock lock(mutex_);
    if (!input_) return MMSYSERR_NOERROR;
    WaitUntilIdle(lock);
    if (started_ && head_) Complete(head_, FinishFrontEarly());
    started_ = false;
    abort_ = false;
    idle_.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT WaveDevice::Reset() {
    std::unique_lock lock(mutex_);
    WaitUntilIdle(lock);
    if (head_) {
        const bool running = !input_ || started_;
        Complete(head_, running ? FinishFrontEarly() : 0);
    }
    while (head_) Complete(head_, 0);
    if (backend_->PacesItself()) backend_->Stop();
    started_ = false;
    cursor_ = std::max(cursor_, SamplesAt(clock_->Now()));
    abort_ = false;
    idle_.notify_all();
    return MMSYSERR_NOERROR;
}

std::int64_t WaveDevice::FrontStart(WAVEHDR* h) {
    if (!front_scheduled_) {
        front_start_ = std::max(cursor_, SamplesAt(QueuedAt(h)));
        front_scheduled_ = true;
    }
    return front_start_;
}

void WaveDevice::Complete(WAVEHDR* h, std::size_t samples_done) {
    head_ = h->lpNext;
    if (head_ == nullptr) tail_ = nullptr;
    h->lpNext = nullptr;
    if (input_) h->dwBytesRecorded = static_cast<DWORD>(2 * samples_done);
    front_scheduled_ = false;
    front_done_ = 0;
    h->dwFlags.store((h->dwFlags.load() & ~WHDR_INQUEUE) | WHDR_DONE);
    Post(input_ ? MM_WIM_DATA : MM_WOM_DONE, h);
}

void WaveDevice::SleepLocked(std::unique_lock<std::mutex>& lock, std::int64_t deadline) {
    const std::uint32_t seen = token_.load();
    lock.unlock();
    clock_->SleepUntil(deadline, token_, seen);
    lock.lock();
}

void WaveDevice::Run() {
    std::unique_lock lock(mutex_);
    while (!stop_) {
        if (abort_) {
            idle_.wait(lock, [&] { return !abort_ || stop_; });
            continue;
        }
        WAVEHDR* h = head_;
        if (h == nullptr || (input_ && !started_)) {
            SleepLocked(lock, WaveClock::kNever);
            continue;
        }
        const std::size_t count = h->dwBufferLength / 2;
        if (backend_->PacesItself() && !broken_) {
            RunSelfPaced(lock, h, count);
        } else {
            RunClockPaced(lock, h, count);
        }
    }
}

void WaveDevice::RunClockPaced(std::unique_lock<std::mutex>& lock, WAVEHDR* h, std::size_t count) {
    const std::int64_t start = FrontStart(h);
    const std::int64_t end = TimeOf(start + static_cast<std::int64_t>(count));
    if (clock_->Now() < end) {
        SleepLocked(lock, end);
        return;
    }
    busy_ = true;
    lock.unlock();
    if (!broken_) {
        backend_->Transfer(h->lpData, count, start);
    } else if (input_) {
        std::memset(h->lpData, 0, 2 * count);
    }
    lock.lock();
    busy_ = false;
    idle_.notify_all();
    if (abort_ || stop_) return;
    cursor_ = start + static_cast<std::int64_t>(count);
    Complete(h, count);
}

void WaveDevice::RunSelfPaced(std::unique_lock<std::mutex>& lock, WAVEHDR* h, std::size_t count) {
    // A sound card sets its own pace, but some ALSA devices (the null and file plugins) take or give
    // samples at once: such a device is held back to at most a second ahead of the clock.
    const std::int64_t start = FrontStart(h);
    const std::int64_t earliest = TimeOf(start) - kMostAheadMicros;
    if (front_done_ == 0 && clock_->Now() < earliest) {
        SleepLocked(lock, earliest);
        return;
    }
    const std::size_t offset = front_done_;
    const std::size_t want = std::min(count - std::min(offset, count), kCardChunk);
    busy_ = true;
    lock.unlock();
    const long moved = want == 0 ? 0 : backend_->Transfer(h->lpData + 2 * offset, want, 0);
    lock.lock();
    busy_ = false;
    idle_.notify_all();
    if (abort_ || stop_) return;
    if (moved < 0) {
        std::fprintf(stderr, "sound %s: the sound card stopped working; carrying on without it\n",
                     input_ ? "input" : "output");
        broken_ = true;
        cursor_ = SamplesAt(clock_->Now());
        front_scheduled_ = false;
        return;
    }
    front_done_ += static_cast<std::size_t>(moved);
    if (front_done_ < count) return;
    cursor_ = start + static_cast<std::int64_t>(count);
    Complete(h, count);
}

}  // namespace platform::wave_internal
