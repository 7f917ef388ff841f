// One recording file: pictures and sound in, a fragmented MP4 out (H.264 video, AAC sound), written as it is
// made so that a file cut short by a crash or a power cut plays up to its last second or so.
//
// Contract:
// - Pictures are the captured 320 x 240 pictures in yuv420p (picture_yuv.h); sound is 8 kHz 16-bit mono. Both
// carry capture times on one monotonic clock in microseconds; the file's time zero
//   is the zero_micros given to Open, so picture and sound stay in step whatever gaps the input has.
// - Pictures must come in capture order; one that is not later than the one before it is left out. Sound
//   that starts before zero is cut, a gap of more than 0.1 s in the sound is filled with silence.
// - Video: H.264 yuv420p at the nominal rate (timestamps follow the capture times), a key frame at least
//   every second; each key frame starts a fragment, and every second what was written is pushed to the
//   disk. Sound: AAC, 8 kHz mono.
// - Every call that fails leaves the writer failed: later calls fail at once, Close only closes the file.
//   LastFailureWasNoSpace tells a full disk from other failures.
// - Not thread-safe: one thread (the recorder's encoder thread) owns a writer.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace record {

struct ClipFormat {
    double fps = 15;         // the capture rate, for the encoder's rate control and key frame distance
    bool with_sound = true;  // whether the file has a sound track
    int sound_bitrate = 24000;
};

class ClipWriter {
  public:
    static constexpr int kSampleRate = 8000;

    ClipWriter();
    ~ClipWriter();  // closes as Close does when the file is still open
    ClipWriter(const ClipWriter&) = delete;
    ClipWriter& operator=(const ClipWriter&) = delete;

    // Creates path (never overwriting a file) and writes the file's header.
    bool Open(const std::string& path, const ClipFormat& format, std::int64_t zero_micros,
              std::string* error);
    bool AddPicture(const std::uint8_t* yuv, std::int64_t capture_micros, std::string* error);
    bool AddSound(std::span<const std::int16_t> samples, std::int64_t first_sample_micros,
                  std::string* error);
    // Drains the encoders, writes the last fragment and the index at the end, pushes the file to the disk.
    bool Close(std::string* error);

    bool IsOpen() const;
    bool LastFailureWasNoSpace() const;
    std::uint64_t BytesWritten() const;
    // The time of the newest picture written, from zero; 0 before the first.
    std::int64_t WrittenMicros() const;

  private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

}  // namespace record
