// The wave device calls: handles, argument checks and the program-wide choice of backends.
#include "platform/wave/wave.h"

#include <cstdio>
#include <map>

#include "platform/wave/wave_internal.h"

namespace platform {
namespace {

using wave_internal::WaveDevice;

struct Registry {
    std::mutex mutex;
    std::map<std::uint32_t, std::shared_ptr<WaveDevice>> inputs, outputs;
    std::uint32_t next_handle = 1;  // never 0 and never reused, so a stale handle only gives an error
    std::string in_backend = "auto";
    std::string out_backend = "auto";
    std::string last_error;
};

Registry& Devices() {
    static Registry registry;
    return registry;
}

std::shared_ptr<WaveDevice> Find(bool input, std::uint32_t handle) {
    Registry& r = Devices();
    std::lock_guard lock(r.mutex);
    auto& map = input ? r.inputs : r.outputs;
    auto it = map.find(handle);
    return it == map.end() ? nullptr : it->second;
}

bool FormatSupported(const WAVEFORMATEX* f) {
    return f != nullptr && f->wFormatTag == WAVE_FORMAT_PCM && f->nChannels == 1 && f->wBitsPerSample == 16 &&
           f->nBlockAlign == 2 && f->nSamplesPerSec >= 1000 && f->nSamplesPerSec <= 192000 &&
           f->nAvgBytesPerSec == 2 * f->nSamplesPerSec;
}

// Reports an open failure once per distinct reason, so that repeated attempts do not flood the terminal.
void ReportOpenFailure(bool input, const std::string& why) {
    static std::mutex mutex;
    static std::string last;
    const std::string line = std::string("sound ") + (input ? "input" : "output") + ": " + why;
    std::lock_guard lock(mutex);
    if (line == last) return;
    last = line;
    std::fprintf(stderr, "%s\n", line.c_str());
}

MMRESULT Open(bool input, std::uint32_t* handle, UINT device_id, const WAVEFORMATEX* format, HWND window,
              DWORD flags) {
    if (handle == nullptr) return MMSYSERR_INVALPARAM;
    *handle = 0;
    if (device_id != WAVE_MAPPER && device_id != 0) return MMSYSERR_BADDEVICEID;
    if (flags != CALLBACK_NULL && flags != CALLBACK_WINDOW) return MMSYSERR_INVALFLAG;
    if (!FormatSupported(format)) return WAVERR_BADFORMAT;
    Registry& r = Devices();
    std::string choice;
    {
        std::lock_guard lock(r.mutex);
        choice = input ? r.in_backend : r.out_backend;
    }
    std::string error;
    auto backend = wave_internal::OpenBackend(input, choice, format->nSamplesPerSec, &error);
    if (!backend) {
        if (!error.empty()) ReportOpenFailure(input, error);
        std::lock_guard lock(r.mutex);
        r.last_error =
            error.empty() ? "the sound " + std::string(input ? "input" : "output") + " is 'none'" : error;
        return MMSYSERR_NODRIVER;
    }
    std::shared_ptr<WaveDevice> device;
    {
        std::lock_guard lock(r.mutex);
        const std::uint32_t h = r.next_handle++;
        device = std::make_shared<WaveDevice>(input, h, flags == CALLBACK_WINDOW ? window : nullptr,
                                              std::move(backend), CurrentWaveClock(), format->nSamplesPerSec);
        (input ? r.inputs : r.outputs)[h] = device;
        *handle = h;
    }
    device->Launch();
    return MMSYSERR_NOERROR;
}

MMRESULT CheckHeader(const WAVEHDR* h, UINT size) {
    if (h == nullptr || size != sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    if (h->lpData == nullptr && h->dwBufferLength > 0) return MMSYSERR_INVALPARAM;
    return MMSYSERR_NOERROR;
}

MMRESULT Prepare(bool input, std::uint32_t handle, WAVEHDR* h, UINT size) {
    if (!Find(input, handle)) return MMSYSERR_INVALHANDLE;
    if (MMRESULT e = CheckHeader(h, size)) return e;
    if (h->dwFlags.load() & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    h->dwFlags.fetch_or(WHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

MMRESULT Unprepare(bool input, std::uint32_t handle, WAVEHDR* h, UINT size) {
    if (!Find(input, handle)) return MMSYSERR_INVALHANDLE;
    if (MMRESULT e = CheckHeader(h, size)) return e;
    if (h->dwFlags.load() & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    h->dwFlags.fetch_and(~WHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

MMRESULT QueueBuffer(bool input, std::uint32_t handle, WAVEHDR* h, UINT size) {
    auto device = Find(input, handle);
    if (!device) return MMSYSERR_INVALHANDLE;
    if (MMRESULT e = CheckHeader(h, size)) return e;
    return device->Queue(h);
}

MMRESULT Close(bool input, std::uint32_t handle) {
    Registry& r = Devices();
    std::shared_ptr<WaveDevice> device;
    {
        std::lock_guard lock(r.mutex);
        auto& map = input ? r.inputs : r.outputs;
        auto it = map.find(handle);
        if (it == map.end()) return MMSYSERR_INVALHANDLE;
        if (it->second->HasQueued()) return WAVERR_STILLPLAYING;
        device = std::move(it->second);
        map.erase(it);
    }
    device->Shutdown();
    return MMSYSERR_NOERROR;
}

bool SetBackend(bool input, std::string_view choice, std::string* error) {
    std::string why;
    const std::string text(choice);
    if (!wave_internal::ValidBackendChoice(input, text, &why)) {
        if (error) *error = why;
        return false;
    }
    Registry& r = Devices();
    std::lock_guard lock(r.mutex);
    (input ? r.in_backend : r.out_backend) = text;
    return true;
}

template <typename Call>
MMRESULT WithDevice(bool input, std::uint32_t handle, Call call) {
    auto device = Find(input, handle);
    return device ? call(*device) : MMSYSERR_INVALHANDLE;
}

}  // namespace

MMRESULT waveInOpen(HWAVEIN* phwi, UINT uDeviceID, const WAVEFORMATEX* pwfx, HWND dwCallback, DWORD_PTR,
                    DWORD fdwOpen) {
    return Open(true, phwi, uDeviceID, pwfx, dwCallback, fdwOpen);
}
MMRESULT waveInPrepareHeader(HWAVEIN hwi, WAVEHDR* pwh, UINT cbwh) {
    return Prepare(true, hwi, pwh, cbwh);
}
MMRESULT waveInAddBuffer(HWAVEIN hwi, WAVEHDR* pwh, UINT cbwh) {
    return QueueBuffer(true, hwi, pwh, cbwh);
}
MMRESULT waveInStart(HWAVEIN hwi) {
    return WithDevice(true, hwi, [](WaveDevice& d) { return d.Start(); });
}
MMRESULT waveInStop(HWAVEIN hwi) {
    return WithDevice(true, hwi, [](WaveDevice& d) { return d.Stop(); });
}
MMRESULT waveInReset(HWAVEIN hwi) {
    return WithDevice(true, hwi, [](WaveDevice& d) { return d.Reset(); });
}
MMRESULT waveInUnprepareHeader(HWAVEIN hwi, WAVEHDR* pwh, UINT cbwh) {
    return Unprepare(true, hwi, pwh, cbwh);
}
MMRESULT waveInClose(HWAVEIN hwi) {
    return Close(true, hwi);
}

MMRESULT waveOutOpen(HWAVEOUT* phwo, UINT uDeviceID, const WAVEFORMATEX* pwfx, HWND dwCallback, DWORD_PTR,
                     DWORD fdwOpen) {
    return Open(false, phwo, uDeviceID, pwfx, dwCallback, fdwOpen);
}
MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh) {
    return Prepare(false, hwo, pwh, cbwh);
}
MMRESULT waveOutWrite(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh) {
    return QueueBuffer(false, hwo, pwh, cbwh);
}
MMRESULT waveOutReset(HWAVEOUT hwo) {
    return WithDevice(false, hwo, [](WaveDevice& d) { return d.Reset(); });
}
MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, UINT cbwh) {
    return Unprepare(false, hwo, pwh, cbwh);
}
MMRESULT waveOutClose(HWAVEOUT hwo) {
    return Close(false, hwo);
}

bool SetWaveInBackend(std::string_view choice, std::string* error) {
    return SetBackend(true, choice, error);
}
bool SetWaveOutBackend(std::string_view choice, std::string* error) {
    return SetBackend(false, choice, error);
}

std::string WaveInBackend() {
    std::lock_guard lock(Devices().mutex);
    return Devices().in_backend;
}

std::string WaveOutBackend() {
    std::lock_guard lock(Devices().mutex);
    return Devices().out_backend;
}

std::string WaveLastOpenError() {
    std::lock_guard lock(Devices().mutex);
    return Devices().last_error;
}

}  // namespace platform
