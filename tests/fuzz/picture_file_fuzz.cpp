// libFuzzer target for the picture files (.ppm, .bmp, .bgr): the first byte picks the format, the rest is
// the file. A file that decodes gives exactly one picture; one that does not says why. The header is also
// tried with a whole picture's worth of samples behind it, so that the row copying and flipping run on
// every header the fuzzer finds.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "media/picture_file.h"

namespace {

constexpr picture_file::Format kFormats[] = {picture_file::Format::kPpm, picture_file::Format::kBmp,
                                             picture_file::Format::kBgr, picture_file::Format::kUnknown};
// Headers stay short; longer inputs are tried as they are only.
constexpr std::size_t kLongestPaddedHeader = 4096;

void DecodeChecked(picture_file::Format format, std::span<const uint8_t> file,
                   std::vector<uint8_t>& picture) {
    std::string error;
    picture.clear();
    if (picture_file::DecodePicture("fuzz", format, file, &picture, &error)) {
        fuzz::Check(picture.size() == picture_file::kPictureBytes);
    } else {
        fuzz::Check(!error.empty() && error.find('\n') == std::string::npos);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const picture_file::Format format = kFormats[data[0] % std::size(kFormats)];
    const std::vector<uint8_t> file(data + 1, data + size);  // exactly the file: reads past it are caught
    std::vector<uint8_t> picture;
    DecodeChecked(format, file, picture);
    if (file.size() <= kLongestPaddedHeader) {
        std::vector<uint8_t> padded(file);
        padded.resize(file.size() + picture_file::kPictureBytes, 0x80);
        DecodeChecked(format, padded, picture);
    }
    return 0;
}
