// Inside the wave devices: the backends that make or take the samples, and the device that runs one
// backend on its own thread. Only platform/wave/wave*.cpp include this.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "platform/wave/wave.h"

namespace platform::wave_internal {

class WaveBackend {
  public:
    virtual ~WaveBackend() = default;
    // True for a sound card, whose own blocking calls set the pace; false for the backends paced by the
    // device clock (tone, file, null).
    virtual bool PacesItself() const { return false; }
    // Fills (input) or takes (output) `count` samples at `data` (16-bit, native order, any alignment).
    // `position` is the index of the first sample in the device's stream since it opened.
    // Clock-paced backends do it at once and return count. A sound card moves at most `count` samples,
    // waits at most about 100 ms, and returns how many it moved, or -1 once the card has failed for good.
    virtual long Transfer(char* data, std::size_t count, std::int64_t position) = 0;
    // Sound card input: recording begins. Every backend: Stop drops what is pending (reset).
    virtual void Start() {}
    virtual void Stop() {}
};

// Opens the backend that choice names for the given direction; on failure returns nullptr and sets error
// ("" for the backend `none`, which fails on purpose). error must not be null.
std::unique_ptr<WaveBackend> OpenBackend(bool input, const std::string& choice, unsigned rate,
                                         std::string* error);
// Checks the text of a backend choice without opening anything.
bool ValidBackendChoice(bool input, const std::string& choice, std::string* error);

std::unique_ptr<WaveBackend> OpenAlsaBackend(bool input, const std::string& name, unsigned rate,
                                             std::string* error);

// One open device: a queue of headers (linked through lpNext) worked off in order by one thread.
class WaveDevice {
  public:
    WaveDevice(bool input, std::uint32_t handle, HWND window, std::unique_ptr<WaveBackend> backend,
               std::shared_ptr<WaveClock> clock, unsigned rate);
    ~WaveDevice();
    WaveDevice(const WaveDevice&) = delete;
    WaveDevice& operator=(const WaveDevice&) = delete;

    void Launch();  // starts the thread and posts the open message
    MMRESULT Queue(WAVEHDR* header);
    MMRESULT Start();
    MMRESULT Stop();
    MMRESULT Reset();
    bool HasQueued();
    void Shutdown();  // ends the thread and posts the close message

  private:
    void Run();
    void SleepLocked(std::unique_lock<std::mutex>& lock, std::int64_t deadline);
    void RunClockPaced(std::unique_lock<std::mutex>& lock, WAVEHDR* header, std::size_t count);
    void RunSelfPaced(std::unique_lock<std::mutex>& lock, WAVEHDR* header, std::size_t count);
    void WaitUntilIdle(std::unique_lock<std::mutex>& lock);
    std::size_t FinishFrontEarly();
    void Complete(WAVEHDR* header, std::size_t samples_done);
    void Wake();
    std::int64_t FrontStart(WAVEHDR* header);
    std::int64_t SamplesAt(std::int64_t time) const;
    std::int64_t TimeOf(std::int64_t samples) const;
    void Post(UINT msg, WAVEHDR* header);

    const bool input_;
    const std::uint32_t handle_;
    const HWND window_;
    const std::unique_ptr<WaveBackend> backend_;
    const std::shared_ptr<WaveClock> clock_;
    const unsigned rate_;
    const std::int64_t epoch_;

    std::mutex mutex_;
    std::condition_variable idle_;
    std::atomic<std::uint32_t> token_{0};
    std::thread thread_;
    WAVEHDR* head_ = nullptr;
    WAVEHDR* tail_ = nullptr;
    std::int64_t cursor_ = 0;       // stream position up to which samples have been moved or let pass
    bool front_scheduled_ = false;  // clock-paced: the front buffer's start is fixed
    std::int64_t front_start_ = 0;
    std::size_t front_done_ = 0;  // sound card: samples of the front buffer moved so far
    bool started_ = false;        // input: recording
    bool busy_ = false;           // the thread is moving samples without the lock
    bool abort_ = false;          // a reset is taking the buffers back
    bool stop_ = false;
    bool broken_ = false;  // the sound card failed; the clock paces from now on
};

}  // namespace platform::wave_internal
