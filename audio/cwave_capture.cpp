// Capture: two 3,200-byte buffers cycle between the input device and the program; each filled one
// becomes one sound block.
#include <cstring>

#include "audio/CWAVE.h"
#include "platform/msgbox.h"

using namespace platform;

void CWAVE::WaveInSet() {
    if (m_hWaveIn != 0) WaveInStop();  // a second call replaces the device instead of leaking it
    FillFormat();
    for (int n = 0; n < 2; ++n) {
        WAVEHDR& h = WaveInHdr[n];
        h.lpData = WaveInBuf[n].data();
        h.dwBufferLength = kBlockBytes;
        h.dwBytesRecorded = 0;
        h.dwFlags = 0;
        h.dwLoops = 0;
    }
    const MMRESULT result = waveInOpen(&m_hWaveIn, WAVE_MAPPER, &WaveFormat, hMainWnd, 0, CALLBACK_WINDOW);
    // Titled with the program's name like every other box, so that the user sees which program lost its
    // input.
    if (result != MMSYSERR_NOERROR || m_hWaveIn == 0) MessageBox("waveInOpen() で失敗しました");
    for (WAVEHDR& h : WaveInHdr) waveInPrepareHeader(m_hWaveIn, &h, sizeof(WAVEHDR));
}

void CWAVE::WaveAddIn() {
    waveInAddBuffer(m_hWaveIn, &WaveInHdr[0], sizeof(WAVEHDR));
    waveInAddBuffer(m_hWaveIn, &WaveInHdr[1], sizeof(WAVEHDR));
    waveInStart(m_hWaveIn);
}

bool CWAVE::MakeWaveInSendData(LPARAM LPARA, std::span<std::uint8_t, kBlockSamples> bDat) {
    int n = -1;
    for (int i = 0; i < 2; ++i) {
        if (LPARA == reinterpret_cast<LPARAM>(&WaveInHdr[i])) n = i;
    }
    // A buffer still queued belongs to the device, which may be writing it now.
    if (n < 0 || (WaveInHdr[n].dwFlags.load() & WHDR_INQUEUE)) return false;
    // The whole buffer, whatever the recorded count says: a block is always 1,600 samples.
    std::memcpy(WaveInSamples.data(), WaveInBuf[n].data(), kBlockBytes);
    WaveCompress(WaveInSamples, bDat);
    waveInAddBuffer(m_hWaveIn, &WaveInHdr[n], sizeof(WAVEHDR));
    return true;
}

void CWAVE::WaveInStop() {
    waveInReset(m_hWaveIn);
    for (WAVEHDR& h : WaveInHdr) waveInUnprepareHeader(m_hWaveIn, &h, sizeof(WAVEHDR));
    waveInClose(m_hWaveIn);
    m_hWaveIn = 0;
}
