// Three hard cases of the frame coding, each handled without changing what any frame byte means:
// full-contrast horizontal edges, saturated chrominance areas, and blocks whose predicted DC is zero.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "codec/CCODEC.h"
#include "codec/frame_format.h"
#include "codec_pictures.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Encode(const pictures::Picture& picture, int32_t threshold) {
    CCODEC encoder;
    encoder.敷居 = threshold;
    Bytes frame(15001);
    EXPECT_EQ(encoder.EncodeDCTPress(picture, frame), 0);
    frame.resize(static_cast<size_t>(encoder.SendDataSize));
    return frame;
}

Bytes RoundTrip(const pictures::Picture& picture, int32_t encode_threshold, int32_t decode_threshold) {
    CCODEC decoder;
    decoder.敷居 = decode_threshold;
    Bytes out(230400);
    EXPECT_EQ(decoder.DecodeDCTPress(Encode(picture, encode_threshold), out), 0);
    return out;
}

const uint8_t* PixelAt(const Bytes& picture, int x, int y) {
    return &picture[3 * (y * 320 + x)];
}

// Black rows above white rows inside every block, split after row 3, 4 or 5, make product arguments of
// about -3481 in the column transform, beyond the product tables; such pictures encode all the same.
TEST(CodecMendedFaults, FullContrastHorizontalEdgesEncode) {
    for (int offset = 1; offset <= 7; ++offset) {
        const Bytes out = RoundTrip(pictures::HorizontalEdges(offset), 10, 15);
        // Block column 0 is black above the edge and white below it, block column 1 the other way
        // round; the decoded blocks keep their edges (softened: a frame keeps the lowest frequencies).
        EXPECT_LT(PixelAt(out, 3, 0)[1] + 40, PixelAt(out, 3, 7)[1]) << offset;
        EXPECT_GT(PixelAt(out, 11, 0)[1], PixelAt(out, 11, 7)[1] + 40) << offset;
    }
}

// A whole picture of pure blue has Cb grid values of 4096, one more than a code holds; coded as 4095
// (not as 0xD0 0x00, which would read as 0) the picture keeps its blue.
TEST(CodecMendedFaults, SaturatedBlueAreasKeepTheirColour) {
    const Bytes frame = Encode(pictures::Flat(255, 0, 0), 10);
    EXPECT_EQ(frame[0], 0xCF);  // 4095
    EXPECT_EQ(frame[1], 0xFF);
    const Bytes out = RoundTrip(pictures::Flat(255, 0, 0), 10, 15);
    for (size_t i = 0; i < out.size(); i += 3 * 101) {
        ASSERT_GE(out[i], 250) << i;
        ASSERT_LE(out[i + 1], 5) << i;
        ASSERT_LE(out[i + 2], 5) << i;
    }
}

// Pure red beside cyan: Cr grid values 4096 beside 0, a difference of 4096 at the border.
TEST(CodecMendedFaults, SaturatedRedBesideCyanKeepsBothColours) {
    const auto picture = pictures::Paint([](int x, int) {
        return x < 160 ? pictures::Pixel{0, 0, 255} : pictures::Pixel{255, 255, 0};
    });
    const Bytes out = RoundTrip(picture, 10, 15);
    for (int y : {0, 100, 239}) {
        EXPECT_GT(PixelAt(out, 20, y)[2], 250);  // red stays red
        EXPECT_LT(PixelAt(out, 20, y)[1], 5);
        EXPECT_LT(PixelAt(out, 300, y)[2], 5);  // cyan stays cyan
        EXPECT_GT(PixelAt(out, 300, y)[1], 250);
    }
}

// A block whose predicted DC is 0 and whose first non-zero coefficient sits at position 3: the encoder
// takes the threshold off it as the decoder adds it back, deciding by position as the decoder does.
TEST(CodecMendedFaults, FirstCoefficientAfterAZeroDcIsCodedByItsPosition) {
    auto set = std::make_unique<codec::CoefficientSet>();
    for (auto& position : *set) position.fill(0);
    (*set)[3][0] = 20;
    Bytes bytes(15001);
    codec::FrameWriter writer(bytes);
    codec::PackCoefficients(*set, 10, writer);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 3), (Bytes{0x03, 0x8A, 0x05}));
    auto back = std::make_unique<codec::CoefficientSet>();
    for (auto& position : *back) position.fill(0);
    codec::FrameReader reader(bytes);
    codec::UnpackCoefficients(reader, 10, *back);
    EXPECT_EQ((*back)[3][0], 20);
}

// With equal thresholds on both sides, every coefficient that the forward transform can leave (zero, or
// at least the threshold in size) comes back exactly, whatever the DC.
TEST(CodecMendedFaults, EqualThresholdsRecoverEveryCoefficient) {
    std::mt19937 random(11);
    auto set = std::make_unique<codec::CoefficientSet>(), back = std::make_unique<codec::CoefficientSet>();
    for (int round = 0; round < 20; ++round) {
        const int32_t threshold = static_cast<int32_t>(random() % 20);
        for (int j = 0; j < 9; ++j) {
            for (int32_t& c : (*set)[j]) {
                const int kind = static_cast<int>(random() % 4);
                const int32_t size = static_cast<int32_t>(threshold + random() % (kind == 3 ? 600 : 40));
                c = kind == 0 ? 0 : (random() & 1 ? size : -size);
                if (j == 0 && kind == 1) c = static_cast<int32_t>(random() % 7) - 3;  // small and zero DCs
            }
        }
        Bytes bytes(30000);
        codec::FrameWriter writer(bytes);
        codec::PackCoefficients(*set, threshold, writer);
        for (auto& position : *back) position.fill(0);
        codec::FrameReader reader(std::span<const uint8_t>(bytes.data(), writer.size()));
        codec::UnpackCoefficients(reader, threshold, *back);
        ASSERT_EQ(*back, *set) << round;
    }
}

}  // namespace
