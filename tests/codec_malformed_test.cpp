// Frames that are cut short, random, or built to push the decoder off its tracks: the decoder gives
// exactly the plain model's status and pixels and never touches memory outside its buffers (this suite
// also runs under AddressSanitizer and UndefinedBehaviorSanitizer).
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "codec/CCODEC.h"
#include "codec_pictures.h"
#include "codec_reference.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes SampleFrame() {
    CCODEC encoder;
    encoder.敷居 = 10;
    Bytes frame(15001);
    EXPECT_EQ(encoder.EncodeDCTPress(pictures::LoadPpm(pictures::SamplePaths()[3]), frame), 0);
    frame.resize(static_cast<size_t>(encoder.SendDataSize));
    return frame;
}

// Where section 2 and section 3 begin in a frame.
std::pair<size_t, size_t> SectionStarts(const Bytes& frame) {
    codec::FrameReader reader(frame);
    codec::LowBandGrid grid;
    codec::UnpackLowBand(reader, grid);
    const size_t second = reader.position();
    codec::UnpackLowBand(reader, grid);
    return {second, reader.position()};
}

// Decodes with both the codec and the model; they must agree on status and, on success, on pixels.
void ExpectSameAsModel(const Bytes& frame, int32_t threshold, const std::string& what) {
    CCODEC codec, model;
    codec.敷居 = model.敷居 = threshold;
    Bytes out(230400, 0x5A), expected(230400, 0x5A);
    // The frame is copied into a buffer of exactly its length, so any read past it is caught.
    const auto exact = std::make_unique<uint8_t[]>(frame.size() + 1);
    std::copy(frame.begin(), frame.end(), exact.get());
    const int status = codec.DecodeDCTPress(std::span<const uint8_t>(exact.get(), frame.size()), out);
    ASSERT_EQ(status, reference::Decode(model, frame, expected)) << what;
    if (status != 0) {
        ASSERT_EQ(out, Bytes(230400, 0x5A)) << what << ": written despite failing";
    }
    ASSERT_EQ(out, expected) << what;
}

TEST(CodecMalformedFrames, CutInsideALowBandFailsWithoutWriting) {
    const Bytes frame = SampleFrame();
    const auto [second, third] = SectionStarts(frame);
    for (size_t cut : {size_t{0}, size_t{1}, second / 2, second - 1, second, second + 1, third - 1}) {
        CCODEC codec;
        Bytes out(230400, 0x5A);
        EXPECT_EQ(codec.DecodeDCTPress(std::span<const uint8_t>(frame.data(), cut), out), 9) << cut;
        EXPECT_EQ(out, Bytes(230400, 0x5A)) << cut;
    }
}

TEST(CodecMalformedFrames, CutInsideTheLuminanceKeepsTheBlocksBeforeIt) {
    const Bytes frame = SampleFrame();
    const size_t third = SectionStarts(frame).second;
    for (size_t cut : {third, third + 1, third + 997, frame.size() / 2, frame.size() - 1}) {
        ExpectSameAsModel(Bytes(frame.begin(), frame.begin() + static_cast<long>(cut)), 15, "cut");
    }
    // Cut right after the low bands: every block is flat at DC 0.
    CCODEC codec;
    Bytes out(230400);
    ASSERT_EQ(codec.DecodeDCTPress(Bytes(frame.begin(), frame.begin() + static_cast<long>(third)), out), 0);
    for (int x = 0; x < 8; ++x) EXPECT_EQ(out[3 * x + 960 * 5 + 1], out[1]);
}

TEST(CodecMalformedFrames, BytesAfterTheFrameAreIgnored) {
    Bytes frame = SampleFrame();
    CCODEC codec;
    Bytes alone(230400), followed(230401, 0x33);
    ASSERT_EQ(codec.DecodeDCTPress(frame, alone), 0);
    frame.insert(frame.end(), {0xFF, 0xFF, 0x85, 0x21, 0x00});
    ASSERT_EQ(codec.DecodeDCTPress(frame, followed), 0);
    EXPECT_TRUE(std::equal(alone.begin(), alone.end(), followed.begin()));
    EXPECT_EQ(followed[230400], 0x33);
}

TEST(CodecMalformedFrames, OutputShorterThanAPictureFails) {
    CCODEC codec;
    Bytes out(230399, 1);
    EXPECT_EQ(codec.DecodeDCTPress(SampleFrame(), out), 9);
    EXPECT_EQ(out, Bytes(230399, 1));
}

TEST(CodecMalformedFrames, RandomBytesDecodeAsTheModelDoes) {
    std::mt19937 random(2024);
    for (int round = 0; round < 40; ++round) {
        Bytes frame(random() % 16000);
        for (uint8_t& byte : frame) byte = static_cast<uint8_t>(random());
        ExpectSameAsModel(frame, round % 3 == 0 ? 0 : 15, "random " + std::to_string(round));
    }
}

// Valid low bands followed by random luminance codes of one kind: runs that overshoot position 9,
// skipped bytes, large two-byte values (DC sums that leave the product tables) and small values.
TEST(CodecMalformedFrames, HostileLuminanceSectionsDecodeAsTheModelDoes) {
    const Bytes valid = SampleFrame();
    const size_t third = SectionStarts(valid).second;
    std::mt19937 random(99);
    const std::vector<std::vector<uint8_t>> alphabets = {
        {0x01, 0x05, 0x0F, 0x1F, 0x85, 0xC3},  // runs, some past the block end
        {0x2F, 0x3F, 0x20, 0x09},              // large values
        {0x40, 0x7F, 0x09, 0x81, 0xC1, 0x00},  // skipped bytes and small values
        {0x21, 0x31, 0x80, 0x03, 0x09},        // moderate values: sums reach the table limits
    };
    for (int round = 0; round < 24; ++round) {
        const auto& alphabet = alphabets[round % alphabets.size()];
        Bytes frame(valid.begin(), valid.begin() + static_cast<long>(third));
        for (size_t n = random() % 9000; n > 0; --n) frame.push_back(alphabet[random() % alphabet.size()]);
        ExpectSameAsModel(frame, 15, "hostile " + std::to_string(round));
    }
}

// Thresholds far beyond the codec's own make values that need the checked arithmetic: decoded values
// beyond 32 bits stop the section, sums beyond 32 bits fail the frame with 6, table arguments with 9.
TEST(CodecMalformedFrames, ExtremeThresholdsDecodeAsTheModelDoes) {
    const Bytes frame = SampleFrame();
    for (int32_t threshold : {-5000, 40000, 2'000'000, 2'147'483'000, -2'147'483'647}) {
        ExpectSameAsModel(frame, threshold, "threshold " + std::to_string(threshold));
    }
    // Codes at positions 10..16 land on the DC slot with the threshold added: DC values far outside the
    // product tables.
    Bytes dc_frame(frame.begin(), frame.begin() + static_cast<long>(SectionStarts(frame).second));
    for (int block = 0; block < 30; ++block) dc_frame.insert(dc_frame.end(), {0x0A, 0x2F, 0xFF, 0x09});
    ExpectSameAsModel(dc_frame, 1 << 30, "dc slot");
}

}  // namespace
