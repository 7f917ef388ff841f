// WAV files: reading PCM files of any common shape into 16-bit mono samples, writing 16-bit mono files
// (whole, or growing while a device records).
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

namespace platform {

struct WavSound {
    std::uint32_t rate = 0;             // samples per second
    std::uint16_t channels = 0;         // as stored in the file
    std::uint16_t bits = 0;             // as stored in the file: 8 or 16
    std::vector<std::int16_t> samples;  // mono: channels are averaged, 8-bit samples widened
};

// Reads a PCM WAV file (8 or 16 bits, 1 or 2 channels). On failure returns false and says why in *error.
bool ReadWavFile(const std::string& path, WavSound& sound, std::string* error);

// The sound that a WAV file's bytes hold, as ReadWavFile reads it; name (the file's) begins the error line.
bool DecodeWav(const std::string& name, std::span<const std::uint8_t> bytes, WavSound& sound,
               std::string* error);

// Writes a 16-bit mono WAV file. On failure returns false and says why in *error.
bool WriteWavFile(const std::string& path, std::uint32_t rate, std::span<const std::int16_t> samples,
                  std::string* error);

// A 16-bit mono WAV file that grows as samples are appended; its header is kept up to date after every
// append, so the file is complete whenever the program stops.
class WavWriter {
  public:
    WavWriter() = default;
    ~WavWriter();
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    bool Open(const std::string& path, std::uint32_t rate, std::string* error);
    bool IsOpen() const { return file_ != nullptr; }
    void Append(std::span<const std::int16_t> samples);
    void Close();

  private:
    void UpdateSizes();

    std::FILE* file_ = nullptr;
    std::uint32_t data_bytes_ = 0;
};

}  // namespace platform
