// streamtool's codec subcommands: encode and decode single frames, measure quality and speed.
#include <QCommandLineParser>
#include <QStringList>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>

#include "codec/CCODEC.h"
#include "media/picture_file.h"
#include "tools/streamtool.h"

namespace {

using Bytes = std::vector<uint8_t>;

using codec::kReceiverThreshold;
using codec::kServerThreshold;
constexpr size_t kLargestMessage = 65536;  // a receiver's whole video buffer
constexpr const char* kBuiltinName = "builtin";

// Options and positional words of one subcommand, parsed by Qt's command-line parser.
class Arguments {
  public:
    explicit Arguments(const char* command) : command_(command) {}

    void AddIntOption(const QString& name, const QString& description, int default_value) {
        parser_.addOption(QCommandLineOption(name, description, "N", QString::number(default_value)));
    }

    // Parses `args`; false (after printing the one error line) when they do not fit.
    bool Parse(const std::vector<std::string>& args, size_t min_positional, size_t max_positional) {
        QStringList list{"streamtool"};
        for (const std::string& a : args) list << QString::fromStdString(a);
        if (!parser_.parse(list)) return Failed(parser_.errorText().toStdString());
        const size_t count = static_cast<size_t>(parser_.positionalArguments().size());
        if (count < min_positional || count > max_positional) {
            return Failed("wrong number of arguments; see 'streamtool " + std::string(command_) + " --help'");
        }
        return true;
    }

    // The value of an integer option, or nothing (after the error line) when it is not a number in range.
    std::optional<int> Int(const QString& name, int lowest, int highest) {
        bool ok = false;
        const int value = parser_.value(name).toInt(&ok);
        if (!ok || value < lowest || value > highest) {
            Failed("--" + name.toStdString() + " needs a whole number from " + std::to_string(lowest) +
                   " to " + std::to_string(highest));
            return std::nullopt;
        }
        return value;
    }

    std::vector<std::string> Positional() const {
        std::vector<std::string> words;
        for (const QString& w : parser_.positionalArguments()) words.push_back(w.toStdString());
        return words;
    }

    bool Failed(const std::string& message) {
        streamtool::Fail(command_, message);
        return false;
    }

  private:
    const char* command_;
    QCommandLineParser parser_;
};

bool LoadPicture(const std::string& name, Bytes& picture, std::string* error) {
    if (name == kBuiltinName) {
        picture = picture_file::BuiltinPicture();
        return true;
    }
    return picture_file::ReadPicture(name, picture, error);
}

// Encodes a picture into `frame` (resized to the frame's length).
bool EncodePicture(const std::string& name, const Bytes& picture, int threshold, Bytes& frame,
                   std::string* error) {
    CCODEC codec;
    codec.敷居 = threshold;
    frame.resize(codec::kFrameBufSize);
    if (codec.EncodeDCTPress(picture, frame) != codec::kStatusOk) {
        *error = name + ": the picture is too detailed for one frame of at most 15001 bytes at threshold " +
                 std::to_string(threshold) + "; a larger --threshold makes it smaller";
        return false;
    }
    frame.resize(static_cast<size_t>(codec.SendDataSize));
    return true;
}

bool DecodeFrame(const std::string& name, const Bytes& frame, int threshold, Bytes& picture,
                 std::string* error) {
    CCODEC codec;
    codec.敷居 = threshold;
    picture.assign(codec::kPictureBytes, 0);
    const int status = codec.DecodeDCTPress(frame, picture);
    if (status != codec::kStatusOk) {
        *error = name + ": not a compressed frame, or a damaged one (the decoder stopped with status " +
                 std::to_string(status) + ")";
        return false;
    }
    return true;
}

// Peak signal-to-noise ratio in decibels of the luminance (BT.601 weights) or of all three channels.
double Psnr(const Bytes& a, const Bytes& b, bool luma) {
    double squared = 0;
    for (size_t i = 0; i < codec::kPictureBytes; i += 3) {
        if (luma) {
            auto y = [](const uint8_t* p) { return 0.114 * p[0] + 0.587 * p[1] + 0.299 * p[2]; };
            const double d = y(&a[i]) - y(&b[i]);
            squared += d * d;
        } else {
            for (int c = 0; c < 3; ++c) {
                const double d = static_cast<double>(a[i + c]) - b[i + c];
                squared += d * d;
            }
        }
    }
    const double samples = luma ? codec::kPictureBytes / 3.0 : static_cast<double>(codec::kPictureBytes);
    return squared == 0 ? INFINITY : 10.0 * std::log10(255.0 * 255.0 * samples / squared);
}

int RunEncode(const std::vector<std::string>& args) {
    Arguments a("encode");
    a.AddIntOption("threshold", "coefficient threshold of the encoder (default 10)", kServerThreshold);
    if (!a.Parse(args, 2, 2)) return 1;
    const auto threshold = a.Int("threshold", 0, 4095);
    if (!threshold) return 1;
    const auto words = a.Positional();
    Bytes picture, frame;
    std::string error;
    if (!LoadPicture(words[0], picture, &error) ||
        !EncodePicture(words[0], picture, *threshold, frame, &error) ||
        !picture_file::WriteFileBytes(words[1], frame, &error)) {
        return streamtool::Fail("encode", error);
    }
    std::printf("%s: %zu bytes\n", words[1].c_str(), frame.size());
    return 0;
}

int RunDecode(const std::vector<std::string>& args) {
    Arguments a("decode");
    a.AddIntOption("threshold", "coefficient threshold of the decoder (default 15)", kReceiverThreshold);
    if (!a.Parse(args, 2, 2)) return 1;
    const auto threshold = a.Int("threshold", 0, 4095);
    if (!threshold) return 1;
    const auto words = a.Positional();
    if (picture_file::FormatOf(words[1]) == picture_file::Format::kUnknown) {
        return streamtool::Fail("decode",
                                words[1] + ": unknown picture type (use a .bgr, .ppm or .bmp file)");
    }
    Bytes frame, picture;
    std::string error;
    if (!picture_file::ReadFileBytes(words[0], frame, &error)) return streamtool::Fail("decode", error);
    if (frame.size() > kLargestMessage) {
        return streamtool::Fail("decode", words[0] + ": " + std::to_string(frame.size()) +
                                              " bytes; a compressed frame has at most 15001");
    }
    if (!DecodeFrame(words[0], frame, *threshold, picture, &error) ||
        !picture_file::WritePicture(words[1], picture, &error)) {
        return streamtool::Fail("decode", error);
    }
    return 0;
}

int RunStats(const std::vector<std::string>& args) {
    Arguments a("stats");
    a.AddIntOption("encode-threshold", "threshold of the encoder (default 10, as the server)",
                   kServerThreshold);
    a.AddIntOption("decode-threshold", "threshold of the decoder (default 15, as the receivers)",
                   kReceiverThreshold);
    if (!a.Parse(args, 1, SIZE_MAX)) return 1;
    const auto encode_threshold = a.Int("encode-threshold", 0, 4095);
    const auto decode_threshold = encode_threshold ? a.Int("decode-threshold", 0, 4095) : std::nullopt;
    if (!decode_threshold) return 1;
    for (const std::string& name : a.Positional()) {
        Bytes picture, frame, decoded;
        std::string error;
        if (!LoadPicture(name, picture, &error) ||
            !EncodePicture(name, picture, *encode_threshold, frame, &error) ||
            !DecodeFrame(name, frame, *decode_threshold, decoded, &error)) {
            return streamtool::Fail("stats", error);
        }
        std::printf("%s size=%zu psnr_y=%.2f psnr_rgb=%.2f\n", name.c_str(), frame.size(),
                    Psnr(picture, decoded, true), Psnr(picture, decoded, false));
    }
    return 0;
}

double MedianMicroseconds(std::vector<double>& samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

// Times `operation` `iterations` times after a short warm-up; the median in microseconds.
template <typename Operation>
double TimeMedian(int iterations, Operation operation) {
    for (int i = 0; i < 3; ++i) operation();
    std::vector<double> samples;
    samples.reserve(static_cast<size_t>(iterations));
    for (int i = 0; i < iterations; ++i) {
        const auto start = std::chrono::steady_clock::now();
        operation();
        samples.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    return MedianMicroseconds(samples);
}

int RunBench(const std::vector<std::string>& args) {
    Arguments a("bench");
    a.AddIntOption("iterations", "timed encodes and decodes per picture (default 200)", 200);
    if (!a.Parse(args, 1, SIZE_MAX)) return 1;
    const auto iterations = a.Int("iterations", 1, 1'000'000);
    if (!iterations) return 1;
    CCODEC encoder, decoder;
    encoder.敷居 = kServerThreshold;
    decoder.敷居 = kReceiverThreshold;
    for (const std::string& name : a.Positional()) {
        Bytes picture, frame(codec::kFrameBufSize), decoded(codec::kPictureBytes);
        std::string error;
        if (!LoadPicture(name, picture, &error)) return streamtool::Fail("bench", error);
        if (encoder.EncodeDCTPress(picture, frame) != codec::kStatusOk) {
            return streamtool::Fail("bench", name + ": the picture is too detailed for one frame");
        }
        frame.resize(static_cast<size_t>(encoder.SendDataSize));
        const double encode_us = TimeMedian(*iterations, [&] { encoder.EncodeDCTPress(picture, frame); });
        const double decode_us = TimeMedian(*iterations, [&] { decoder.DecodeDCTPress(frame, decoded); });
        std::printf("%s size=%zu encode_us=%.1f decode_us=%.1f\n", name.c_str(), frame.size(), encode_us,
                    decode_us);
    }
    return 0;
}

const streamtool::Register kEncode(
    {"encode", "encode [--threshold N] IN OUT",
     "compress the picture IN (.bgr, .ppm, .bmp or 'builtin') into the frame OUT", RunEncode});
const streamtool::Register kDecode(
    {"decode", "decode [--threshold N] IN OUT",
     "decode the compressed frame IN into the picture OUT (.bgr, .bmp or .ppm)", RunDecode});
const streamtool::Register kStats({"stats", "stats [--encode-threshold N] [--decode-threshold N] PICTURE...",
                                   "frame size and PSNR (luma and RGB) of encoding and decoding each picture",
                                   RunStats});
const streamtool::Register kBench({"bench", "bench [--iterations N] PICTURE...",
                                   "median encode and decode times of each picture, in microseconds",
                                   RunBench});

}  // namespace
