// CWAVE: the sound layer of all three programs. Capture turns each 0.2 s input buffer (1,600 samples at
// 8,000 per second, 16-bit mono) into a 1,600-byte sound block, one compressed byte per sample. Playback
// queues the expanded blocks that arrive from the network and keeps the output device fed one buffer at a
// time, stretching or shortening blocks by one sample in twenty to hold the queue near its target depth.
// Every operation runs on the window thread; the devices report through window messages to hMainWnd.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "platform/wave/wave.h"
#include "platform/window/window.h"

class CWAVE {
  public:
    static constexpr int kBlockSamples = 1600;  // one sound block: 0.2 s
    static constexpr int kBlockBytes = 2 * kBlockSamples;
    static constexpr int kQueueBlocks = 20;  // room in PlayQueue
    static constexpr int kQueueLimit = 12;   // most blocks QueueCount counts
    static constexpr int kOutSlots = 6;
    static constexpr int kSlotBytes = 3359;
    static constexpr int kStepBytes = 40;  // every 20th sample repeats or drops
    // Bytes played by output headers 0 to 5: normal, normal, stretched, stretched, shortened, shortened.
    static constexpr std::array<platform::DWORD, kOutSlots> kOutLength = {3200, 3200, 3359, 3359, 3041, 3041};

    CWAVE();
    ~CWAVE();  // closes the devices that are still open, since they hold this object's buffers
    CWAVE(const CWAVE&) = delete;
    CWAVE& operator=(const CWAVE&) = delete;

    platform::HWAVEIN m_hWaveIn = 0;
    platform::HWAVEOUT m_hWaveOut = 0;
    platform::Flag fPlay = platform::kFalse;   // playback running
    platform::Flag fLOGIN = platform::kFalse;  // playback may write to the output device

    // Sample compression: sign, 3-bit exponent and 4-bit mantissa per byte. Each converts every index of
    // its input that the output has room for.
    void WaveCompress(std::span<const std::int16_t> samples, std::span<std::uint8_t> bytes) const;
    void WaveExpand(std::span<const std::uint8_t> bytes, std::span<std::int16_t> samples) const;

    // Capture.
    void WaveInSet();  // opens the input; a failure shows "waveInOpen() で失敗しました"
    void WaveAddIn();  // hands both input buffers to the device and starts recording
    // Turns the filled input buffer whose header address is LPARA into bDat and hands the buffer back to
    // the device. Returns false, changing nothing, when LPARA is no filled input header of this object.
    bool MakeWaveInSendData(platform::LPARAM LPARA, std::span<std::uint8_t, kBlockSamples> bDat);
    void WaveInStop();

    // The same conversion, then the block goes out through SK when SK has a socket.
    template <typename Socket>
    void WaveInSending(Socket& SK, platform::LPARAM LPARA) {
        if (MakeWaveInSendData(LPARA, WaveSendBlock) && SK.MySock != 0) SK.SendWaveData(WaveSendBlock);
    }
    template <typename Socket>
    void WaveInMultiSending(Socket& SK, platform::LPARAM LPARA, std::int32_t Num1, std::int32_t Num2) {
        if (MakeWaveInSendData(LPARA, WaveSendBlock) && SK.MySock != 0)
            SK.SendWaveServer(WaveSendBlock, Num1, Num2);
    }

    // Playback.
    void WaveOutSet(std::int32_t& fError);  // fError: -1 when the output could not be opened, else 0
    void StartPlay(std::span<const std::uint8_t, kBlockSamples> WaveData);  // while fPlay is clear
    void Play(std::span<const std::uint8_t, kBlockSamples> WaveData);       // while fPlay is set
    void WaveMoving(std::int32_t Setting);  // on every buffer-done message; Setting = target depth
    void WaveOutStop();
    // Write a 1,600-sample block into output slot OutIndex with each sample that starts at a byte offset
    // of step, 2 x step, ... (up to 3,200 - step) written twice, respectively left out.
    void WaveStretch(std::span<const std::int16_t, kBlockSamples> block, std::int32_t step);
    void WaveShrink(std::span<const std::int16_t, kBlockSamples> block, std::int32_t step);

    // Playback queue: block 0 is the oldest. Public for the receivers' diagnostics; only CWAVE writes them.
    std::array<std::int16_t, kQueueBlocks * kBlockSamples> PlayQueue{};
    std::int32_t QueueCount = 0;  // blocks counted in PlayQueue, 0 to 12
    std::int32_t OutIndex = 0;    // the output header chosen last
    std::int32_t StartCount = 0;  // position of the next block while playback starts

    const platform::WAVEHDR& InHeader(int n) const { return WaveInHdr[n]; }
    const platform::WAVEHDR& OutHeader(int n) const { return WaveOutHdr[n]; }
    const char* OutSlot(int n) const { return WaveOutBuf[n].data(); }
    // Output buffers written and not yet reported back through WaveMoving.
    int OutInFlight() const { return OutPending; }

  private:
    void BuildTables();
    void FillFormat();
    void ResetPlayback();
    bool OutQueued(int n) const { return (WaveOutHdr[n].dwFlags.load() & platform::WHDR_INQUEUE) != 0; }
    int ChooseSlot(std::int32_t Setting) const;
    void FillSlot(std::int32_t Setting, bool empty);
    void StartOutput();
    bool WriteOut(int n);
    std::span<std::int16_t, kBlockSamples> QueueBlock(int position) {
        return std::span<std::int16_t, kBlockSamples>(PlayQueue.data() + position * kBlockSamples,
                                                      kBlockSamples);
    }

    // Compression tables, built once when the object is made.
    std::array<int, 8> ExpMask{};   // 2^(i+7)
    std::array<int, 8> ExpCode{};   // 16 x i
    std::array<int, 16> BitMask{};  // 2^i
    std::array<int, 17> Pow2{};     // entry k (1 to 16) is 2^(k-1)

    platform::WAVEFORMATEX WaveFormat;
    platform::WAVEHDR WaveInHdr[2];
    std::array<std::array<char, kBlockBytes>, 2> WaveInBuf{};
    std::array<std::int16_t, kBlockSamples> WaveInSamples{};
    std::uint8_t WaveSendBlock[kBlockSamples] = {};

    platform::WAVEHDR WaveOutHdr[kOutSlots];
    std::array<std::array<char, kSlotBytes>, kOutSlots> WaveOutBuf{};
    int OutPending = 0;
};
