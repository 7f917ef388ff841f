// The adaptive queue: each finished output buffer is replaced by the oldest queued block, played at
// normal length, stretched when the queue is short, or shortened when it is long.
#include <cstring>

#include "audio/CWAVE.h"

using namespace platform;

namespace {

// Whether the sample that starts at this byte offset of a block repeats (stretch) or drops (shrink).
bool Marked(int offset, std::int32_t step) {
    return step > 0 && offset >= step && offset <= CWAVE::kBlockBytes - step && offset % step == 0;
}

void PutSample(char* slot, int& at, std::int16_t sample) {
    if (at + 2 > CWAVE::kSlotBytes) return;
    std::memcpy(slot + at, &sample, 2);
    at += 2;
}

}  // namespace

int CWAVE::ChooseSlot(std::int32_t Setting) const {
    const std::int32_t c = QueueCount;
    if (c == Setting + 1) return OutQueued(0) ? 1 : 0;
    if (c >= Setting + 2) return OutQueued(4) ? 5 : 4;
    if (!OutQueued(2)) return 2;
    if (!OutQueued(3)) return 3;
    return 0;
}

void CWAVE::FillSlot(std::int32_t Setting, bool empty) {
    char* slot = WaveOutBuf[OutIndex].data();
    if (empty) {
        // Nothing is queued: silence, rather than a queue position that was played long ago.
        std::memset(slot, 0, kSlotBytes);
        return;
    }
    const std::int32_t c = QueueCount;
    if (c == Setting + 1) {
        std::memcpy(slot, PlayQueue.data(), kBlockBytes);
    } else if (c >= Setting + 2) {
        WaveShrink(QueueBlock(0), kStepBytes);
    } else {
        WaveStretch(QueueBlock(0), kStepBytes);
    }
}

void CWAVE::WaveMoving(std::int32_t Setting) {
    if (OutPending > 0) --OutPending;  // the buffer that just came back
    const bool empty = QueueCount <= 0;
    if (fLOGIN) {
        const int slot = ChooseSlot(Setting);
        if (OutQueued(slot)) return;  // never touch a buffer the device holds; the block waits its turn
        OutIndex = slot;
        FillSlot(Setting, empty);
        WriteOut(OutIndex);
    } else {
        fPlay = kFalse;  // output runs down: the next block starts playback afresh
    }
    if (!empty) {
        std::memmove(PlayQueue.data(), PlayQueue.data() + kBlockSamples,
                     (kQueueBlocks - 1) * kBlockBytes);  // block 19 keeps its old content
    }
    if (--QueueCount < 0) {
        QueueCount = 0;
        fPlay = kFalse;
    }
}

void CWAVE::WaveStretch(std::span<const std::int16_t, kBlockSamples> block, std::int32_t step) {
    char* slot = WaveOutBuf[OutIndex].data();
    int at = 0;
    for (int i = 0; i < kBlockSamples; ++i) {
        PutSample(slot, at, block[i]);
        if (Marked(2 * i, step)) PutSample(slot, at, block[i]);
    }
}

void CWAVE::WaveShrink(std::span<const std::int16_t, kBlockSamples> block, std::int32_t step) {
    char* slot = WaveOutBuf[OutIndex].data();
    int at = 0;
    for (int i = 0; i < kBlockSamples; ++i) {
        if (!Marked(2 * i, step)) PutSample(slot, at, block[i]);
    }
}
