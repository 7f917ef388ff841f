// Playback: opening the output, starting it once three blocks are queued, and appending blocks.
#include <algorithm>

#include "audio/CWAVE.h"

using namespace platform;

void CWAVE::ResetPlayback() {
    fPlay = kFalse;
    QueueCount = 0;
    StartCount = 0;
    OutIndex = 0;
    OutPending = 0;
    for (auto& slot : WaveOutBuf) slot.fill(0);
}

void CWAVE::WaveOutSet(std::int32_t& fError) {
    if (m_hWaveOut != 0) WaveOutStop();  // a second call replaces the device instead of leaking it
    ResetPlayback();
    FillFormat();
    fError = -1;
    const MMRESULT result = waveOutOpen(&m_hWaveOut, WAVE_MAPPER, &WaveFormat, hMainWnd, 0, CALLBACK_WINDOW);
    if (result != MMSYSERR_NOERROR || m_hWaveOut == 0) return;
    for (int n = 0; n < kOutSlots; ++n) {
        WAVEHDR& h = WaveOutHdr[n];
        h.lpData = WaveOutBuf[n].data();
        h.dwFlags = 0;
        h.dwBufferLength = kOutLength[n];
        if (waveOutPrepareHeader(m_hWaveOut, &h, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) return;
    }
    fError = 0;
}

void CWAVE::WaveOutStop() {
    waveOutReset(m_hWaveOut);
    for (WAVEHDR& h : WaveOutHdr) waveOutUnprepareHeader(m_hWaveOut, &h, sizeof(WAVEHDR));
    waveOutClose(m_hWaveOut);
    m_hWaveOut = 0;
    fPlay = kFalse;
    OutPending = 0;
}

bool CWAVE::WriteOut(int n) {
    if (waveOutWrite(m_hWaveOut, &WaveOutHdr[n], sizeof(WAVEHDR)) != MMSYSERR_NOERROR) return false;
    ++OutPending;
    return true;
}

// Puts silent buffers on output headers 0 and 1 until two buffers are in flight. Slots 0 and 1 still hold
// whatever they played last, so they are silenced first; a slot the device still holds is left alone, and
// when the device is still playing (after the queue ran dry) it already has its two buffers.
void CWAVE::StartOutput() {
    for (int n = 0; n < 2 && OutPending < 2; ++n) {
        if (OutQueued(n)) continue;
        WaveOutBuf[n].fill(0);
        WriteOut(n);
    }
}

void CWAVE::StartPlay(std::span<const std::uint8_t, kBlockSamples> WaveData) {
    if (StartCount < 0 || StartCount > 2) StartCount = 0;
    WaveExpand(WaveData, QueueBlock(StartCount));
    if (StartCount < 2) {
        ++StartCount;
        return;
    }
    // The third block: all three are counted, and the next start fills positions 0 to 2 again.
    StartOutput();
    QueueCount = 3;
    StartCount = 0;
    fPlay = kTrue;
}

void CWAVE::Play(std::span<const std::uint8_t, kBlockSamples> WaveData) {
    QueueCount = std::clamp(QueueCount, 0, kQueueLimit);
    WaveExpand(WaveData, QueueBlock(QueueCount));
    if (QueueCount < kQueueLimit) ++QueueCount;  // with 12 counted, position 12 takes each newer block
}
