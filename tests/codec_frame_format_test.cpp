// The compressed frame format byte by byte: documented frames, the codings of both kinds of section,
// and how the decoder reads every kind of byte.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "codec/CCODEC.h"
#include "codec/frame_format.h"
#include "codec_pictures.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Packed(const codec::CoefficientSet& c, int32_t threshold) {
    Bytes buffer(30000);
    codec::FrameWriter writer(buffer);
    codec::PackCoefficients(c, threshold, writer);
    buffer.resize(writer.size());
    return buffer;
}

Bytes PackedLowBand(const codec::LowBandGrid& grid) {
    Bytes buffer(1000);
    codec::FrameWriter writer(buffer);
    codec::PackLowBand(grid, writer);
    buffer.resize(writer.size());
    return buffer;
}

std::unique_ptr<codec::CoefficientSet> Zeroed() {
    auto set = std::make_unique<codec::CoefficientSet>();
    for (auto& position : *set) position.fill(0);
    return set;
}

// Decodes section 3 from `bytes` with the given threshold.
std::unique_ptr<codec::CoefficientSet> Unpacked(const Bytes& bytes, int32_t threshold) {
    auto set = Zeroed();
    codec::FrameReader reader(bytes);
    codec::UnpackCoefficients(reader, threshold, *set);
    return set;
}

std::vector<int32_t> BlockOf(const codec::CoefficientSet& set, int block) {
    std::vector<int32_t> values;
    for (int j = 0; j < 9; ++j) values.push_back(set[j][block]);
    return values;
}

TEST(CodecFrameFormat, MidGreyFrameIsTheDocumentedEighteenHundredFourBytes) {
    CCODEC encoder;
    encoder.敷居 = 10;
    Bytes frame(15001);
    ASSERT_EQ(encoder.EncodeDCTPress(pictures::Flat(128, 128, 128), frame), 0);
    ASSERT_EQ(encoder.SendDataSize, 1804);
    Bytes expected;
    for (int band = 0; band < 2; ++band) {
        expected.insert(expected.end(), {0xC8, 0x00});
        expected.insert(expected.end(), 299, 0x00);
    }
    expected.insert(expected.end(), {0x23, 0xFF, 0x08});
    expected.insert(expected.end(), 1199, 0x09);
    frame.resize(1804);
    EXPECT_EQ(frame, expected);
    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), encoder.FrameBuf.begin()));
    EXPECT_EQ(encoder.FramePos, 1804);

    CCODEC decoder;
    decoder.敷居 = 15;
    Bytes picture(230401, 0xAA);
    ASSERT_EQ(decoder.DecodeDCTPress(frame, picture), 0);
    for (size_t i = 0; i < 230400; i += 3) {
        ASSERT_EQ(picture[i], 128) << i;
        ASSERT_EQ(picture[i + 1], 127) << i;
        ASSERT_EQ(picture[i + 2], 127) << i;
    }
    EXPECT_EQ(picture[230400], 0xAA);  // the byte after the picture is left alone
}

TEST(CodecFrameFormat, CoefficientsCodeAsDocumented) {
    auto set = Zeroed();
    const int32_t values[9] = {100, -5, 70, 0, 0, 12, -64, 300, -1};
    for (int j = 0; j < 9; ++j) (*set)[j][0] = values[j];
    (*set)[0][1] = -3000;
    Bytes expected{0x20, 0x64, 0xC0, 0xBC, 0x02, 0x82, 0xF6, 0x21, 0x22, 0xC0, 0x3B, 0xB8, 0x08};
    expected.insert(expected.end(), 1198, 0x09);
    const Bytes bytes = Packed(*set, 10);
    EXPECT_EQ(bytes, expected);
    const auto decoded = Unpacked(bytes, 15);
    EXPECT_EQ(BlockOf(*decoded, 0), (std::vector<int32_t>{100, -15, 75, 0, 0, 17, -69, 305, -15}));
    EXPECT_EQ(BlockOf(*decoded, 1), (std::vector<int32_t>{-3000, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(CodecFrameFormat, LowBandValuesCodeAsDocumented) {
    codec::LowBandGrid grid{};
    grid[0] = 200;            // coded as itself
    grid[1] = 264;            // 200 - 264 = -64
    grid[2] = 264 - 63;       // 63
    grid[3] = 264 - 63 + 63;  // -63
    grid[4] = 265;            // -1; then 265 and fourteen zeros
    grid[20] = 200 - 127;     // first column: predicted from the row above, 127
    grid[21] = grid[20];      // 0
    const Bytes bytes = PackedLowBand(grid);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 7), (Bytes{0xC0, 0xC8, 0xD0, 0x40, 0x3F, 0xBF, 0x81}));
    EXPECT_EQ(bytes[23], 0x7F);
    EXPECT_EQ(bytes[24], 0x00);
    codec::LowBandGrid back{};
    codec::FrameReader reader(bytes);
    ASSERT_TRUE(codec::UnpackLowBand(reader, back));
    EXPECT_EQ(back, grid);
    EXPECT_EQ(reader.position(), bytes.size());
}

TEST(CodecFrameFormat, LowBandDecodingReadsEveryFirstByte) {
    // 0x80 is minus zero; 0xC1 0x02 is 258; 0xE5 0x01 and 0xF0 0x07 are negative two-byte values.
    Bytes bytes{0x80, 0xC1, 0x02, 0xE5, 0x01, 0xF0, 0x07};
    bytes.resize(bytes.size() + 296, 0x00);
    codec::LowBandGrid grid{};
    codec::FrameReader reader(bytes);
    ASSERT_TRUE(codec::UnpackLowBand(reader, grid));
    EXPECT_EQ(grid[0], 0);
    EXPECT_EQ(grid[1], 0 - 258);
    EXPECT_EQ(grid[2], -258 + 1281);
    EXPECT_EQ(grid[3], 1023 + 7);
}

TEST(CodecFrameFormat, SectionThreeReaderHandlesRunsSkipsAndTheBlockLimit) {
    // Block 0: 0x00 (a run of none), 0x45 (skipped), 0x12 (a run of two), 0x85 at position 2 (+ 15),
    // 0x16 (six zeros). Block 1: 0x81 as the DC, then 0x18. Then 1198 empty blocks and bytes to ignore.
    Bytes bytes{0x00, 0x45, 0x12, 0x85, 0x16, 0x81, 0x18};
    bytes.insert(bytes.end(), 1198, 0x09);
    bytes.insert(bytes.end(), {0x85, 0x85});
    const auto set = Unpacked(bytes, 15);
    EXPECT_EQ(BlockOf(*set, 0), (std::vector<int32_t>{0, 0, 20, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(BlockOf(*set, 1), (std::vector<int32_t>{1, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(BlockOf(*set, 1199), std::vector<int32_t>(9, 0));
}

TEST(CodecFrameFormat, RunsPastTheBlockEndLandOnTheDcSlotUntilPosition16) {
    // j = 8, run of 3: j = 11, never 9 again. Codes at j = 11..16 overwrite the block's DC slot with
    // the threshold added; the code at j = 17 cannot be placed and ends the section.
    Bytes bytes{0x81, 0x17, 0x13, 0x84, 0x14, 0x86, 0x87, 0x09, 0x85};
    const auto set = Unpacked(bytes, 15);
    EXPECT_EQ(BlockOf(*set, 0), (std::vector<int32_t>{21, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(BlockOf(*set, 1), std::vector<int32_t>(9, 0));
}

TEST(CodecFrameFormat, ASectionFillsItsBufferToTheLastByte) {
    std::mt19937 random(3);
    auto set = Zeroed();
    for (auto& position : *set) {
        for (int32_t& c : position) c = random() % 3 == 0 ? static_cast<int32_t>(random() % 601) - 300 : 0;
    }
    const Bytes full = Packed(*set, 10);
    Bytes exact(full.size()), short_by_one(full.size() - 1);
    codec::FrameWriter fits(exact), does_not_fit(short_by_one);
    codec::PackCoefficients(*set, 10, fits);
    codec::PackCoefficients(*set, 10, does_not_fit);
    EXPECT_FALSE(fits.overflowed());
    EXPECT_EQ(exact, full);
    EXPECT_TRUE(does_not_fit.overflowed());
    EXPECT_EQ(does_not_fit.size(), short_by_one.size());
}

TEST(CodecFrameFormat, EveryFrameLiesBetweenTheSmallestAndLargestSize) {
    CCODEC encoder;
    encoder.敷居 = 10;
    Bytes frame(15001);
    for (const auto& picture : {pictures::Flat(0, 0, 0), pictures::Gradients(), pictures::FineDetail()}) {
        ASSERT_EQ(encoder.EncodeDCTPress(picture, frame), 0);
        EXPECT_GE(encoder.SendDataSize, 1800);
        EXPECT_LE(encoder.SendDataSize, 15001);
    }
}

}  // namespace
