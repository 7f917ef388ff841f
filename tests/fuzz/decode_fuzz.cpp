// libFuzzer target for the frame decoder: any bytes, decoded at the receivers' threshold and at a
// threshold chosen by the input's length (extremes included). The decoder must stay inside its
// buffers, report only its documented statuses, leave the picture alone when it fails, and, for one
// input in sixteen, give exactly the status and pixels of the plain whole-plane model.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

#include "codec/CCODEC.h"
#include "codec_reference.h"

namespace {

constexpr uint8_t kUntouched = 0x5A;
constexpr int32_t kThresholds[] = {0, 10, 40, 32767, 1 << 30, INT_MAX, -5000};

void Check(bool condition) {
    if (!condition) std::abort();
}

// Decodes into a buffer of exactly one picture, so that any write past it is caught.
int DecodeChecked(CCODEC& codec, std::span<const uint8_t> frame, uint8_t* picture) {
    std::fill_n(picture, codec::kPictureBytes, kUntouched);
    const int status = codec.DecodeDCTPress(frame, std::span<uint8_t>(picture, codec::kPictureBytes));
    Check(status == codec::kStatusOk || status == codec::kStatusOverflow ||
          status == codec::kStatusSubscript);
    if (status != codec::kStatusOk) {
        Check(
            std::all_of(picture, picture + codec::kPictureBytes, [](uint8_t b) { return b == kUntouched; }));
    }
    return status;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static CCODEC codec;
    static const auto picture = std::make_unique<uint8_t[]>(codec::kPictureBytes);
    // A copy of exactly `size` bytes: reading past the frame is caught too.
    const auto frame = std::make_unique<uint8_t[]>(size);
    std::copy_n(data, size, frame.get());
    const std::span<const uint8_t> input(frame.get(), size);

    codec.敷居 = 15;
    const int status = DecodeChecked(codec, input, picture.get());
    if (size % 16 == 0) {
        CCODEC model;
        model.敷居 = 15;
        const auto expected = std::make_unique<uint8_t[]>(codec::kPictureBytes);
        std::fill_n(expected.get(), codec::kPictureBytes, kUntouched);
        Check(reference::Decode(model, input, std::span<uint8_t>(expected.get(), codec::kPictureBytes)) ==
              status);
        Check(std::equal(picture.get(), picture.get() + codec::kPictureBytes, expected.get()));
    }
    codec.敷居 = kThresholds[size % std::size(kThresholds)];
    DecodeChecked(codec, input, picture.get());
    return 0;
}
