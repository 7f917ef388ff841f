// Frame encoding and decoding times of CCODEC on the sample pictures, side by side with TurboJPEG at
// quality 50 when it is installed. Each benchmark is repeated and its median reported; a summary of the
// medians and of the ratios TurboJPEG time / CCODEC time closes the output.
//
//   build/bin/codec_bench                       (10 repetitions unless --benchmark_repetitions is given)
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "codec/CCODEC.h"

#ifdef STREAM_HAVE_TURBOJPEG
#include <turbojpeg.h>
#endif

namespace {

using Bytes = std::vector<uint8_t>;
const char* const kSamples[] = {"building", "butterfly", "coins", "fruits", "ihc"};

// A 320 x 240 binary PPM as the codec's buffer holds a picture: blue, green, red, bottom row first.
Bytes LoadSample(const std::string& name) {
    std::ifstream in(std::string(STREAM_SAMPLES_DIR) + "/" + name + ".ppm", std::ios::binary);
    std::string magic;
    int width = 0, height = 0, maximum = 0;
    in >> magic >> width >> height >> maximum;
    in.get();
    Bytes top_down(230400);
    in.read(reinterpret_cast<char*>(top_down.data()), static_cast<std::streamsize>(top_down.size()));
    if (!in || magic != "P6" || width != 320 || height != 240) return {};
    Bytes picture(230400);
    for (int y = 0; y < 240; ++y) {
        for (int x = 0; x < 320; ++x) {
            const uint8_t* rgb = &top_down[3 * (y * 320 + x)];
            uint8_t* bgr = &picture[3 * ((239 - y) * 320 + x)];
            bgr[0] = rgb[2], bgr[1] = rgb[1], bgr[2] = rgb[0];
        }
    }
    return picture;
}

void Encode(benchmark::State& state, const Bytes& picture) {
    CCODEC codec;
    codec.敷居 = 10;
    Bytes frame(15001);
    for (auto _ : state) {
        if (codec.EncodeDCTPress(picture, frame) != 0) state.SkipWithError("encoding failed");
        benchmark::DoNotOptimize(frame.data());
    }
    state.counters["bytes"] = codec.SendDataSize;
}

void Decode(benchmark::State& state, const Bytes& picture) {
    CCODEC encoder, decoder;
    encoder.敷居 = 10;
    decoder.敷居 = 15;
    Bytes frame(15001), out(230401);
    encoder.EncodeDCTPress(picture, frame);
    frame.resize(static_cast<size_t>(encoder.SendDataSize));
    for (auto _ : state) {
        if (decoder.DecodeDCTPress(frame, out) != 0) state.SkipWithError("decoding failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["bytes"] = static_cast<double>(frame.size());
}

#ifdef STREAM_HAVE_TURBOJPEG
constexpr int kJpegQuality = 50;

// A preallocated JPEG buffer, so that neither side allocates per frame.
struct Jpeg {
    tjhandle compressor = tjInitCompress();
    tjhandle decompressor = tjInitDecompress();
    Bytes buffer = Bytes(tjBufSize(320, 240, TJSAMP_420));
    unsigned long size = 0;
    ~Jpeg() {
        tjDestroy(compressor);
        tjDestroy(decompressor);
    }
    bool Compress(const Bytes& picture) {
        unsigned char* out = buffer.data();
        size = buffer.size();
        return tjCompress2(compressor, picture.data(), 320, 960, 240, TJPF_BGR, &out, &size, TJSAMP_420,
                           kJpegQuality, TJFLAG_NOREALLOC) == 0;
    }
    bool Decompress(Bytes& out) {
        return tjDecompress2(decompressor, buffer.data(), size, out.data(), 320, 960, 240, TJPF_BGR, 0) == 0;
    }
};

void JpegEncode(benchmark::State& state, const Bytes& picture) {
    Jpeg jpeg;
    for (auto _ : state) {
        if (!jpeg.Compress(picture)) state.SkipWithError(tjGetErrorStr());
        benchmark::DoNotOptimize(jpeg.buffer.data());
    }
    state.counters["bytes"] = static_cast<double>(jpeg.size);
}

void JpegDecode(benchmark::State& state, const Bytes& picture) {
    Jpeg jpeg;
    Bytes out(230400);
    if (!jpeg.Compress(picture)) state.SkipWithError(tjGetErrorStr());
    for (auto _ : state) {
        if (!jpeg.Decompress(out)) state.SkipWithError(tjGetErrorStr());
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["bytes"] = static_cast<double>(jpeg.size);
}
#endif

// The console output, plus the medians collected for the closing summary.
class SummaryReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.aggregate_name != "median") continue;
            const std::string name = run.benchmark_name();
            medians_[name.substr(0, name.find("_median"))] = {run.GetAdjustedCPUTime(),
                                                              Counter(run, "bytes")};
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\nMedians of CPU time in microseconds per frame; ratio = TurboJPEG q%d time / CCODEC time\n", 50);
        std::printf("%-10s %8s %8s %7s %8s %8s %7s %7s %7s\n", "picture", "encode", "jpeg", "ratio", "decode",
                    "jpeg", "ratio", "bytes", "jpeg");
        for (const char* sample : kSamples) {
            const std::string s(sample);
            const Median enc = Find("encode/" + s), dec = Find("decode/" + s);
            const Median jenc = Find("turbojpeg_q50_encode/" + s), jdec = Find("turbojpeg_q50_decode/" + s);
            if (enc.us == 0) continue;
            std::printf("%-10s %8.1f %8.1f %7.2f %8.1f %8.1f %7.2f %7.0f %7.0f\n", sample, enc.us, jenc.us,
                        Ratio(jenc, enc), dec.us, jdec.us, Ratio(jdec, dec), enc.bytes, jenc.bytes);
        }
    }

  private:
    struct Median {
        double us = 0;
        double bytes = 0;
    };
    static double Counter(const Run& run, const char* name) {
        const auto it = run.counters.find(name);
        return it == run.counters.end() ? 0 : it->second.value;
    }
    static double Ratio(const Median& jpeg, const Median& codec) {
        return codec.us > 0 ? jpeg.us / codec.us : 0;
    }
    Median Find(const std::string& name) const {
        const auto it = medians_.find(name);
        return it == medians_.end() ? Median{} : it->second;
    }
    std::map<std::string, Median> medians_;
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> args(argv, argv + argc);
    bool repetitions_given = false;
    for (char* a : args) repetitions_given |= std::strncmp(a, "--benchmark_repetitions", 23) == 0;
    std::string repetitions = "--benchmark_repetitions=10",
                aggregates = "--benchmark_report_aggregates_only=true";
    if (!repetitions_given) {
        args.push_back(repetitions.data());
        args.push_back(aggregates.data());
    }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());

    static std::map<std::string, Bytes> pictures;
    for (const char* sample : kSamples) {
        pictures[sample] = LoadSample(sample);
        if (pictures[sample].empty()) {
            std::fprintf(stderr, "codec_bench: cannot read the sample picture %s\n", sample);
            return 1;
        }
    }
    for (const char* sample : kSamples) {
        const Bytes& p = pictures[sample];
        const std::string s(sample);
        benchmark::RegisterBenchmark(("encode/" + s).c_str(), Encode, p)->Unit(benchmark::kMicrosecond);
#ifdef STREAM_HAVE_TURBOJPEG
        benchmark::RegisterBenchmark(("turbojpeg_q50_encode/" + s).c_str(), JpegEncode, p)
            ->Unit(benchmark::kMicrosecond);
#endif
        benchmark::RegisterBenchmark(("decode/" + s).c_str(), Decode, p)->Unit(benchmark::kMicrosecond);
#ifdef STREAM_HAVE_TURBOJPEG
        benchmark::RegisterBenchmark(("turbojpeg_q50_decode/" + s).c_str(), JpegDecode, p)
            ->Unit(benchmark::kMicrosecond);
#endif
    }
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
