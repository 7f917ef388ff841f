#include "platform/wave/wave_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace platform {
namespace {

constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;

std::uint16_t Le16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t Le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
void PutLe16(unsigned char* p, std::uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
void PutLe32(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

bool SetError(std::string* error, std::string text) {
    if (error) *error = std::move(text);
    return false;
}

// The 44-byte header of a 16-bit mono PCM file holding data_bytes of samples.
void MakeHeader(unsigned char (&h)[44], std::uint32_t rate, std::uint32_t data_bytes) {
    std::memcpy(h, "RIFF", 4);
    PutLe32(h + 4, 36 + data_bytes);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    PutLe32(h + 16, 16);
    PutLe16(h + 20, kFormatPcm);
    PutLe16(h + 22, 1);
    PutLe32(h + 24, rate);
    PutLe32(h + 28, rate * 2);
    PutLe16(h + 32, 2);
    PutLe16(h + 34, 16);
    std::memcpy(h + 36, "data", 4);
    PutLe32(h + 40, data_bytes);
}

struct Format {
    std::uint16_t tag = 0, channels = 0, bits = 0;
    std::uint32_t rate = 0;
};

bool ParseFormat(const unsigned char* p, std::uint32_t size, Format& f, std::string* error) {
    if (size < 16) return SetError(error, "its format chunk is too short");
    f.tag = Le16(p);
    f.channels = Le16(p + 2);
    f.rate = Le32(p + 4);
    f.bits = Le16(p + 14);
    if (f.tag == kFormatExtensible && size >= 26) f.tag = Le16(p + 24);  // the sub-format's first word
    if (f.tag != kFormatPcm) return SetError(error, "it is not PCM (format " + std::to_string(f.tag) + ")");
    if (f.channels != 1 && f.channels != 2)
        return SetError(error, "it has " + std::to_string(f.channels) + " channels; 1 or 2 are supported");
    if (f.bits != 8 && f.bits != 16)
        return SetError(error, "it has " + std::to_string(f.bits) + "-bit samples; 8 or 16 are supported");
    if (f.rate == 0) return SetError(error, "its sample rate is 0");
    return true;
}

void DecodeSamples(const unsigned char* p, std::size_t bytes, const Format& f,
                   std::vector<std::int16_t>& out) {
    const std::size_t width = f.bits / 8u;
    const std::size_t frame = width * f.channels;
    const std::size_t frames = bytes / frame;
    out.resize(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        int sum = 0;
        for (std::size_t c = 0; c < f.channels; ++c) {
            const unsigned char* s = p + i * frame + c * width;
            sum += width == 2 ? static_cast<std::int16_t>(Le16(s)) : (static_cast<int>(s[0]) - 128) * 256;
        }
        out[i] = static_cast<std::int16_t>(sum / static_cast<int>(f.channels));
    }
}

}  // namespace

bool ReadWavFile(const std::string& path, WavSound& sound, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return SetError(error, path + ": " + std::strerror(errno));
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
    return DecodeWav(path, bytes, sound, error);
}

bool DecodeWav(const std::string& name, std::span<const std::uint8_t> bytes, WavSound& sound,
               std::string* error) {
    const std::string what = name + ": not a usable WAV file: ";
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
        return SetError(error, what + "no RIFF/WAVE header");
    }
    Format f;
    bool have_format = false;
    std::size_t pos = 12;
    while (pos + 8 <= bytes.size()) {
        const unsigned char* chunk = bytes.data() + pos;
        const std::size_t room = bytes.size() - pos - 8;
        std::size_t size = Le32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            std::string why;
            if (!ParseFormat(chunk + 8, static_cast<std::uint32_t>(std::min(size, room)), f, &why))
                return SetError(error, what + why);
            have_format = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!have_format) return SetError(error, what + "its data comes before its format");
            // Streaming writers leave the size at 0 or at its largest value: take what the file holds.
            if (size == 0 || size > room) size = room;
            sound.rate = f.rate;
            sound.channels = f.channels;
            sound.bits = f.bits;
            DecodeSamples(chunk + 8, size, f, sound.samples);
            return true;
        }
        pos += 8 + size + (size & 1);  // chunks are padded to an even length
    }
    return SetError(error, what + (have_format ? "no data chunk" : "no format chunk"));
}

bool WriteWavFile(const std::string& path, std::uint32_t rate, std::span<const std::int16_t> samples,
                  std::string* error) {
    WavWriter writer;
    if (!writer.Open(path, rate, error)) return false;
    writer.Append(samples);
    writer.Close();
    return true;
}

WavWriter::~WavWriter() {
    Close();
}

bool WavWriter::Open(const std::string& path, std::uint32_t rate, std::string* error) {
    Close();
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) return SetError(error, path + ": " + std::strerror(errno));
    unsigned char header[44];
    MakeHeader(header, rate, 0);
    data_bytes_ = 0;
    std::fwrite(header, 1, sizeof header, file_);
    std::fflush(file_);
    return true;
}

void WavWriter::Append(std::span<const std::int16_t> samples) {
    if (!file_ || samples.empty()) return;
    unsigned char chunk[512];
    std::size_t done = 0;
    while (done < samples.size()) {
        const std::size_t n = std::min<std::size_t>(samples.size() - done, sizeof chunk / 2);
        for (std::size_t i = 0; i < n; ++i)
            PutLe16(chunk + 2 * i, static_cast<std::uint16_t>(samples[done + i]));
        std::fwrite(chunk, 1, 2 * n, file_);
        done += n;
    }
    data_bytes_ += static_cast<std::uint32_t>(2 * samples.size());
    UpdateSizes();
}

void WavWriter::UpdateSizes() {
    unsigned char size[4];
    PutLe32(size, 36 + data_bytes_);
    std::fseek(file_, 4, SEEK_SET);
    std::fwrite(size, 1, 4, file_);
    PutLe32(size, data_bytes_);
    std::fseek(file_, 40, SEEK_SET);
    std::fwrite(size, 1, 4, file_);
    std::fseek(file_, 0, SEEK_END);
    std::fflush(file_);
}

void WavWriter::Close() {
    if (!file_) return;
    std::fclose(file_);
    file_ = nullptr;
}

}  // namespace platform
