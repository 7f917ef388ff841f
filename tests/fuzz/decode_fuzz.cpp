// libFuzzer target for the frame decoder: any bytes, decoded once, at the receivers' threshold or (one
// length in eight) at a threshold chosen by the length, extremes included. The decoder must stay inside its
// buffers, report only its documented statuses, leave the picture alone when it fails, and, for one input
// in 64, give exactly the status and pixels of the plain whole-plane model at the same threshold.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>

#include "codec/CCODEC.h"
#include "codec_reference.h"

namespace {

constexpr uint8_t kUntouched = 0x5A;
constexpr int32_t kThresholds[] = {0, 10, 40, 32767, 1 << 30, INT_MAX, -5000};

int32_t ThresholdFor(std::size_t size) {
    return size % 8 != 0 ? codec::kReceiverThreshold : kThresholds[size / 8 % std::size(kThresholds)];
}

void Check(bool condition) {
    if (!condition) std::abort();
}

// A picture that no decoder has written to.
const uint8_t* UntouchedPicture() {
    static const auto untouched = [] {
        auto picture = std::make_unique<uint8_t[]>(codec::kPictureBytes);
        std::fill_n(picture.get(), codec::kPictureBytes, kUntouched);
        return picture;
    }();
    return untouched.get();
}

// Decodes into a buffer of exactly one picture, so that any write past it is caught.
int DecodeChecked(CCODEC& codec, std::span<const uint8_t> frame, uint8_t* picture) {
    std::memcpy(picture, UntouchedPicture(), codec::kPictureBytes);
    const int status = codec.DecodeDCTPress(frame, std::span<uint8_t>(picture, codec::kPictureBytes));
    Check(status == codec::kStatusOk || status == codec::kStatusOverflow ||
          status == codec::kStatusSubscript);
    if (status != codec::kStatusOk)
        Check(std::memcmp(picture, UntouchedPicture(), codec::kPictureBytes) == 0);
    return status;
}

// One input in 64, chosen by a hash of all its bytes: the plain model costs about 30 decodes, so this keeps
// about as many comparisons a second as one in 16 did while every input gets the other checks. The choice
// depends on the input alone, so that a finding replays; and on every byte, because the fuzzer's mutations
// keep most of an input, so that a choice by its length and a byte or two kept comparing the descendants of
// one chosen input, about one input in nine.
bool ComparedWithModel(std::span<const uint8_t> frame) {
    std::uint32_t hash = 2166136261u;  // FNV-1a
    for (const uint8_t byte : frame) hash = (hash ^ byte) * 16777619u;
    return (hash ^ (hash >> 16)) % 64 == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static CCODEC codec;
    static const auto picture = std::make_unique<uint8_t[]>(codec::kPictureBytes);
    // A copy of exactly `size` bytes: reading past the frame is caught too.
    const auto frame = std::make_unique<uint8_t[]>(size);
    std::copy_n(data, size, frame.get());
    const std::span<const uint8_t> input(frame.get(), size);

    const int32_t threshold = ThresholdFor(size);
    codec.敷居 = threshold;
    const int status = DecodeChecked(codec, input, picture.get());
    if (ComparedWithModel(input)) {
        // Made once: a model and its picture per input cost more than the decoding.
        static CCODEC model;
        static const auto expected = std::make_unique<uint8_t[]>(codec::kPictureBytes);
        model.敷居 = threshold;
        std::memcpy(expected.get(), UntouchedPicture(), codec::kPictureBytes);
        Check(reference::Decode(model, input, std::span<uint8_t>(expected.get(), codec::kPictureBytes)) ==
              status);
        Check(std::memcmp(picture.get(), expected.get(), codec::kPictureBytes) == 0);
    }
    return 0;
}
