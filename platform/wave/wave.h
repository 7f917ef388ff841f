// platform/wave, sound devices and files: the wave devices below with their backends (ALSA, tone, file,
// null), WAV files (wave_file.h) and the MCI sound commands that play them (mci.h). It builds on
// platform/window, to which the devices report finished buffers.
//
// Wave devices shaped like the multimedia API that the sound layer was written against: input and output
// devices that take buffers described by WAVEHDR headers, fill or play them in order on a device thread and
// report each finished buffer to a window (MM_WIM_DATA, MM_WOM_DONE, lParam = the header's address).
//
// What stands behind a device is chosen once per program for input and for output (SetWaveInBackend,
// SetWaveOutBackend; the programs' --audio-in / --audio-out options):
//   alsa[:NAME]      the sound card through ALSA (NAME defaults to "default")
//   tone[:HZ]        input: a sine tone (440 Hz unless given), paced by the device clock
//   file:PATH.wav    input: the samples of a WAV file, looped, paced by the device clock
//   null             output: plays nothing but takes each buffer's playing time on the device clock
//   null:PATH.wav    output: as null, and writes every sample it "played" to PATH.wav
//   none             a device that fails to open
//   auto             ALSA when it opens; otherwise input fails to open and output falls back to null
// The clock-paced backends (tone, file, null) take their time from a WaveClock that tests replace with a
// ManualWaveClock, so queue behaviour runs without waiting in real time.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/window/window.h"

namespace platform {

using DWORD = std::uint32_t;
using WORD = std::uint16_t;
using DWORD_PTR = std::uintptr_t;
using MMRESULT = UINT;
using HWAVEIN = std::uint32_t;   // 0 = no device
using HWAVEOUT = std::uint32_t;  // 0 = no device

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;

constexpr UINT WAVE_MAPPER = static_cast<UINT>(-1);
constexpr DWORD CALLBACK_NULL = 0x00000;
constexpr DWORD CALLBACK_WINDOW = 0x10000;
constexpr WORD WAVE_FORMAT_PCM = 1;

constexpr DWORD WHDR_DONE = 0x01;
constexpr DWORD WHDR_PREPARED = 0x02;
constexpr DWORD WHDR_INQUEUE = 0x10;

struct WAVEFORMATEX {
    WORD wFormatTag = 0;
    WORD nChannels = 0;
    DWORD nSamplesPerSec = 0;
    DWORD nAvgBytesPerSec = 0;
    WORD nBlockAlign = 0;
    WORD wBitsPerSample = 0;
    WORD cbSize = 0;
};

// One buffer handed to a device. While WHDR_INQUEUE is set the device owns the buffer and the header's
// device fields (lpNext, reserved); the program may read dwFlags at any time from any thread.
struct WAVEHDR {
    char* lpData = nullptr;
    DWORD dwBufferLength = 0;
    DWORD dwBytesRecorded = 0;
    DWORD_PTR dwUser = 0;
    std::atomic<DWORD> dwFlags = 0;
    DWORD dwLoops = 0;
    WAVEHDR* lpNext = nullptr;
    DWORD_PTR reserved = 0;
};

// Devices speak 16-bit signed PCM, 1 channel, 1,000 to 192,000 samples per second; other formats give
// WAVERR_BADFORMAT. A buffer of an odd length plays or records its whole samples only.
// Notifications: window messages when fdwOpen is CALLBACK_WINDOW (dwCallback names the window, wParam is
// the device handle), none with CALLBACK_NULL.
MMRESULT waveInOpen(HWAVEIN* phwi, UINT uDeviceID, const WAVEFORMATEX* pwfx, HWND dwCallback,
                    DWORD_PTR dwInstance, DWORD fdwOpen);
MMRESULT waveInPrepareHeader(HWAVEIN hwi, WAVEHDR* pwh, UINT cbwh);
MMRESULT waveInAddBuffer(HWAVEIN hwi, WAVEHDR* pwh, UINT cbwh);
MMRESULT waveInStart(HWAVEIN hwi);
MMRESULT waveInStop(HWAVEIN hwi);
// Stops recording and returns every queued buffer (the one being filled with what it holds so far).
MMRESULT waveInReset(HWAVEIN hwi);
MMRESULT waveInUnprepareHeader(HWAVEIN hwi, WAVEHDR* pwh, UINT cbwh);
MMRESULT waveInClose(HWAVEIN hwi);

MMRESULT waveOutOpen(HWAVEOUT* phwo, UINT uDeviceID, const WAVEFORMATEX* pwfx, HWND dwCallback,
                     DWORD_PTR dwInstance, DWORD fdwOpen);
MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh);
// Queues a prepared buffer for playing. A buffer that is still queued gives WAVERR_STILLPLAYING and
// nothing changes.
MMRESULT waveOutWrite(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh);
// Stops playing and returns every queued buffer at once.
MMRESULT waveOutReset(HWAVEOUT hwo);
MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh);
MMRESULT waveOutClose(HWAVEOUT hwo);

// Chooses the backend of devices opened from now on. Returns false and sets *error when the text names
// no backend of that direction; the choice is then unchanged.
bool SetWaveInBackend(std::string_view choice, std::string* error = nullptr);
bool SetWaveOutBackend(std::string_view choice, std::string* error = nullptr);
std::string WaveInBackend();
std::string WaveOutBackend();
// Why the last failed open failed, in words ("" when none has failed).
std::string WaveLastOpenError();

// The time base of the clock-paced backends, in microseconds. Device threads sleep in SleepUntil; a
// program's own calls that change a device bump the device's token and call Notify, so a sleeper wakes
// to look again.
class WaveClock {
  public:
    static constexpr std::int64_t kNever = INT64_MAX;
    virtual ~WaveClock() = default;
    virtual std::int64_t Now() = 0;
    // Returns when Now() >= deadline, when token no longer equals seen, or spuriously.
    virtual void SleepUntil(std::int64_t deadline, const std::atomic<std::uint32_t>& token,
                            std::uint32_t seen) = 0;
    virtual void Notify() = 0;
    // Device threads announce themselves, so that a manual clock knows when all of them are asleep.
    virtual void Attach() {}
    virtual void Detach() {}
};

// Real time (std::chrono::steady_clock).
class SteadyWaveClock : public WaveClock {
  public:
    std::int64_t Now() override;
    void SleepUntil(std::int64_t deadline, const std::atomic<std::uint32_t>& token,
                    std::uint32_t seen) override;
    void Notify() override;

  private:
    std::mutex mutex_;
    std::condition_variable wake_;
};

// Time that moves only when told to. Settled() is true once every device thread sleeps with nothing due,
// so a test can advance the time, wait until the devices have caught up and then run the posted messages.
class ManualWaveClock : public WaveClock {
  public:
    std::int64_t Now() override;
    void SleepUntil(std::int64_t deadline, const std::atomic<std::uint32_t>& token,
                    std::uint32_t seen) override;
    void Notify() override;
    void Attach() override;
    void Detach() override;

    void Advance(std::int64_t micros);
    bool Settled();
    // Waits (in real time, at most timeout_ms) until Settled(); returns Settled().
    bool WaitSettled(int timeout_ms);

  private:
    struct Sleeper {
        std::int64_t deadline;
        const std::atomic<std::uint32_t>* token;
        std::uint32_t seen;
    };
    bool SettledLocked() const;

    std::mutex mutex_;
    std::condition_variable wake_;     // sleepers wait here
    std::condition_variable changed_;  // WaitSettled waits here
    std::int64_t now_ = 0;
    int attached_ = 0;
    std::vector<const Sleeper*> sleepers_;
};

// The clock that devices opened from now on use; nullptr restores real time.
void SetWaveClock(std::shared_ptr<WaveClock> clock);
std::shared_ptr<WaveClock> CurrentWaveClock();

}  // namespace platform
