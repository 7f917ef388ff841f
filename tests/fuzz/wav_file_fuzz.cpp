// libFuzzer target for WAV files: any bytes as a file's contents. A file that decodes has a shape the
// reader supports and no more samples than its bytes can hold; one that does not says why in one line.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "platform/wave/wave_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> file(data, data + size);  // exactly the file: reads past it are caught
    platform::WavSound sound;
    std::string error;
    if (platform::DecodeWav("fuzz.wav", file, sound, &error)) {
        fuzz::Check(sound.rate != 0 && (sound.channels == 1 || sound.channels == 2) &&
                    (sound.bits == 8 || sound.bits == 16));
        fuzz::Check(sound.samples.size() * sound.channels * (sound.bits / 8u) <= size);
    } else {
        fuzz::Check(!error.empty() && error.find('\n') == std::string::npos);
    }
    return 0;
}
