// Sound layer figures: compression and expansion throughput, and the cost of one 0.2 s block through
// capture and playback, with the heap allocations each block causes.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <array>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>

#include "audio/CWAVE.h"
#include "platform/wave/wave.h"
#include "platform/wave/wave_file.h"
#include "platform/window/window.h"

// Every heap allocation of the process is counted, so that a benchmark can show how many one block costs.
namespace {
std::atomic<std::uint64_t> g_allocations{0};
}

void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

using Block = std::array<std::uint8_t, CWAVE::kBlockSamples>;

std::vector<std::int16_t> Voice() {
    platform::WavSound sound;
    if (!platform::ReadWavFile(STREAM_SAMPLES_DIR "/voice_8k.wav", sound, nullptr))
        sound.samples.assign(11840, 1000);
    return sound.samples;
}

void CountAllocations(benchmark::State& state, std::uint64_t before) {
    const double per =
        static_cast<double>(g_allocations.load() - before) / static_cast<double>(state.iterations());
    state.counters["allocs_per_block"] = per;
}

void BM_WaveCompress(benchmark::State& state) {
    CWAVE wave;
    const std::vector<std::int16_t> voice = Voice();
    std::vector<std::uint8_t> bytes(voice.size());
    for (auto _ : state) {
        wave.WaveCompress(voice, bytes);
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(voice.size()));  // samples
}
BENCHMARK(BM_WaveCompress);

void BM_WaveExpand(benchmark::State& state) {
    CWAVE wave;
    const std::vector<std::int16_t> voice = Voice();
    std::vector<std::uint8_t> bytes(voice.size());
    wave.WaveCompress(voice, bytes);
    std::vector<std::int16_t> samples(voice.size());
    for (auto _ : state) {
        wave.WaveExpand(bytes, samples);
        benchmark::DoNotOptimize(samples.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(voice.size()));
}
BENCHMARK(BM_WaveExpand);

// The sound layer's own work for one block, without devices: the capture conversion, then the block
// queued (Play) and played (WaveMoving) at the depth that gives a normal (0), stretched (1) or shortened (2)
// block.
void BM_BlockThroughCWAVE(benchmark::State& state) {
    const int kind = static_cast<int>(state.range(0));
    const int depth_before_play = kind == 0 ? 3 : kind == 1 ? 2 : 4;
    CWAVE server, receiver;
    receiver.fLOGIN = platform::kTrue;
    receiver.fPlay = platform::kTrue;
    Block block;
    block.fill(0x35);
    for (int k = 0; k < depth_before_play; ++k) receiver.Play(block);
    const auto header = reinterpret_cast<platform::LPARAM>(&server.InHeader(0));
    const std::uint64_t before = g_allocations.load();
    for (auto _ : state) {
        server.MakeWaveInSendData(header, block);
        receiver.Play(block);
        receiver.WaveMoving(3);
        benchmark::DoNotOptimize(receiver.PlayQueue.data());
    }
    CountAllocations(state, before);
    state.SetLabel(kind == 0 ? "normal" : kind == 1 ? "stretched" : "shortened");
}
BENCHMARK(BM_BlockThroughCWAVE)->Arg(0)->Arg(1)->Arg(2);

// The whole road of a block on the device clock: the tone input fills a buffer on its thread and posts it,
// the window thread turns it into a block and queues it, the null output plays a buffer and posts it, and
// WaveMoving writes the next one. CPU time is that of the whole process, all threads together.
void BM_BlockThroughDevices(benchmark::State& state) {
    auto clock = std::make_shared<platform::ManualWaveClock>();
    platform::SetWaveClock(clock);
    platform::SetWaveInBackend("tone:500");
    platform::SetWaveOutBackend("null");
    platform::Window window;
    hMainWnd = &window;
    struct Ends {
        CWAVE server, receiver;
        Block block;
        void Handle(platform::UINT msg, platform::LPARAM lp) {
            if (msg == platform::MM_WIM_DATA && server.MakeWaveInSendData(lp, block)) {
                if (receiver.fPlay) {
                    receiver.Play(block);
                } else {
                    receiver.StartPlay(block);
                }
            } else if (msg == platform::MM_WOM_DONE) {
                receiver.WaveMoving(3);
            }
        }
    };
    auto ends = std::make_unique<Ends>();
    CWAVE& server = ends->server;
    CWAVE& receiver = ends->receiver;
    // One pointer of capture: the window procedure is copied for every message it handles, and so
    // small a copy needs no heap.
    window.SetWindowProc(
        [e = ends.get()](platform::HWND, platform::UINT msg, platform::WPARAM, platform::LPARAM lp) {
            e->Handle(msg, lp);
            return platform::LRESULT{0};
        });
    auto settle = [&] {
        for (int round = 0; round < 100; ++round) {
            clock->WaitSettled(5000);
            const auto seen = window.DeliveredCount();
            platform::DoEvents();
            if (window.DeliveredCount() == seen) return;
        }
    };
    server.WaveInSet();
    std::int32_t error = 0;
    receiver.WaveOutSet(error);
    receiver.fLOGIN = platform::kTrue;
    server.WaveAddIn();
    for (int k = 0; k < 10; ++k) {  // past the start, into the steady state
        clock->Advance(200000);
        settle();
    }
    const std::uint64_t before = g_allocations.load();
    for (auto _ : state) {
        clock->Advance(200000);
        settle();
    }
    CountAllocations(state, before);
    state.counters["queue_depth"] = receiver.QueueCount;
    server.WaveInStop();
    receiver.WaveOutStop();
    platform::DoEvents();
    hMainWnd = nullptr;
    platform::SetWaveClock(nullptr);
}
BENCHMARK(BM_BlockThroughDevices)->MeasureProcessCPUTime()->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
