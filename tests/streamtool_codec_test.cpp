// streamtool's codec subcommands, run as a user runs them: picture files in and out, frames, errors.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "program_process.h"

namespace {

using Bytes = std::vector<uint8_t>;

using Result = program_test::Finished;

Result Streamtool(const QStringList& args) {
    std::vector<std::string> list;
    for (const QString& a : args) list.push_back(a.toStdString());
    return program_test::RunToEnd("streamtool", list);
}

Bytes ReadAll(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const QString& path, const Bytes& bytes) {
    std::ofstream out(path.toStdString(), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

uint32_t Field32(const Bytes& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t{b[at + 3]} << 24;
}

int Lines(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

class StreamtoolCodec : public ::testing::Test {
  protected:
    QString Path(const char* name) const { return dir_.filePath(name); }
    const QString sample_ = QString(STREAM_SAMPLES_DIR) + "/fruits.ppm";
    QTemporaryDir dir_;
};

TEST_F(StreamtoolCodec, DecodedPicturesTakeEveryFormat) {
    ASSERT_EQ(Streamtool({"encode", sample_, Path("f.frame")}).status, 0);
    ASSERT_EQ(Streamtool({"decode", Path("f.frame"), Path("f.bgr")}).status, 0);
    ASSERT_EQ(Streamtool({"decode", Path("f.frame"), Path("F.BMP")}).status, 0);
    ASSERT_EQ(Streamtool({"decode", Path("f.frame"), Path("f.ppm")}).status, 0);
    const Bytes raw = ReadAll(Path("f.bgr")), bmp = ReadAll(Path("F.BMP")), ppm = ReadAll(Path("f.ppm"));
    ASSERT_EQ(raw.size(), 230400u);

    // The receivers' snapshot layout: the picture buffer of 230,401 bytes after a 54-byte header.
    ASSERT_EQ(bmp.size(), 230455u);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    EXPECT_EQ(Field32(bmp, 2), 230454u);
    EXPECT_EQ(Field32(bmp, 10), 54u);
    EXPECT_EQ(Field32(bmp, 14), 40u);
    EXPECT_EQ(Field32(bmp, 18), 320u);
    EXPECT_EQ(Field32(bmp, 22), 240u);
    EXPECT_EQ(Field32(bmp, 26), 1u | 24u << 16);
    EXPECT_EQ(Field32(bmp, 30), 0u);
    EXPECT_EQ(Field32(bmp, 34), 230401u);
    EXPECT_TRUE(std::equal(raw.begin(), raw.end(), bmp.begin() + 54));
    EXPECT_EQ(bmp.back(), 0);

    // PPM: top row first, red first.
    const std::string header = "P6\n320 240\n255\n";
    ASSERT_EQ(ppm.size(), header.size() + 230400);
    EXPECT_TRUE(std::equal(header.begin(), header.end(), ppm.begin()));
    const size_t last_row = 239 * 960;
    EXPECT_EQ(ppm[header.size()], raw[last_row + 2]);
    EXPECT_EQ(ppm[header.size() + 2], raw[last_row]);
    EXPECT_EQ(ppm[header.size() + 230400 - 1], raw[319 * 3]);  // blue of the last pixel: buffer row 0
}

TEST_F(StreamtoolCodec, EveryPictureFormatEncodesToTheSameFrame) {
    ASSERT_EQ(Streamtool({"encode", sample_, Path("a.frame")}).status, 0);
    ASSERT_EQ(Streamtool({"decode", Path("a.frame"), Path("p.bgr")}).status, 0);
    ASSERT_EQ(Streamtool({"decode", Path("a.frame"), Path("p.bmp")}).status, 0);
    ASSERT_EQ(Streamtool({"decode", Path("a.frame"), Path("p.ppm")}).status, 0);
    for (const char* name : {"p.bgr", "p.bmp", "p.ppm"}) {
        const QString frame = Path(name) + ".frame";
        const Result r = Streamtool({"encode", Path(name), frame});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(ReadAll(frame), ReadAll(Path("p.bgr.frame"))) << name;
    }
    // A top-down bitmap (negative height) is turned into buffer order.
    Bytes flipped = ReadAll(Path("p.bmp"));
    const Bytes raw = ReadAll(Path("p.bgr"));
    flipped[22] = 0x10, flipped[23] = 0xFF, flipped[24] = 0xFF, flipped[25] = 0xFF;  // -240
    for (int y = 0; y < 240; ++y)
        std::copy_n(raw.begin() + (239 - y) * 960, 960, flipped.begin() + 54 + y * 960);
    WriteAll(Path("down.bmp"), flipped);
    ASSERT_EQ(Streamtool({"encode", Path("down.bmp"), Path("down.frame")}).status, 0);
    EXPECT_EQ(ReadAll(Path("down.frame")), ReadAll(Path("p.bgr.frame")));
}

TEST_F(StreamtoolCodec, ThresholdOptionsChangeTheFrame) {
    const Result plain = Streamtool({"encode", sample_, Path("10.frame")});
    const Result coarse = Streamtool({"encode", "--threshold", "40", sample_, Path("40.frame")});
    ASSERT_EQ(plain.status, 0);
    ASSERT_EQ(coarse.status, 0);
    EXPECT_LT(ReadAll(Path("40.frame")).size(), ReadAll(Path("10.frame")).size());
    EXPECT_EQ(plain.out, Path("10.frame").toStdString() + ": " +
                             std::to_string(ReadAll(Path("10.frame")).size()) + " bytes\n");
    ASSERT_EQ(Streamtool({"decode", "--threshold", "10", Path("10.frame"), Path("a.bgr")}).status, 0);
    ASSERT_EQ(Streamtool({"decode", Path("10.frame"), Path("b.bgr")}).status, 0);
    EXPECT_NE(ReadAll(Path("a.bgr")), ReadAll(Path("b.bgr")));
}

TEST_F(StreamtoolCodec, StatsAndBenchReportEveryPicture) {
    const Result stats = Streamtool({"stats", "builtin", sample_});
    ASSERT_EQ(stats.status, 0) << stats.err;
    EXPECT_TRUE(std::regex_search(stats.out,
                                  std::regex(R"(^builtin size=\d+ psnr_y=\d+\.\d\d psnr_rgb=\d+\.\d\d\n)")));
    EXPECT_EQ(Lines(stats.out), 2);
    const Result bench = Streamtool({"bench", "--iterations", "3", "builtin"});
    ASSERT_EQ(bench.status, 0) << bench.err;
    EXPECT_TRUE(
        std::regex_match(bench.out, std::regex(R"(builtin size=\d+ encode_us=\d+\.\d decode_us=\d+\.\d\n)")));
}

TEST_F(StreamtoolCodec, ErrorsAreOneLineAndStatusOne) {
    WriteAll(Path("small.ppm"), Bytes{'P', '6', '\n', '2', ' ', '2', '\n', '2', '5', '5', '\n', 1,
                                      2,   3,   4,    5,   6,   7,   8,    9,   10,  11,  12});
    WriteAll(Path("short.bgr"), Bytes(1000, 7));
    WriteAll(Path("cut.frame"), Bytes(500, 0x7F));
    // A bitmap whose height is the smallest 32-bit number, which has no magnitude of its own.
    Bytes bottomless(54 + 230401, 0);
    bottomless[0] = 'B';
    bottomless[1] = 'M';
    for (const auto& [at, value] :
         {std::pair{10, 54u}, {14, 40u}, {18, 320u}, {22, 0x80000000u}, {26, 1u | 24u << 16}})
        for (int k = 0; k < 4; ++k) bottomless[at + k] = static_cast<uint8_t>(value >> 8 * k);
    WriteAll(Path("bottomless.bmp"), bottomless);
    const std::vector<std::pair<QStringList, std::string>> cases = {
        {{"encode", Path("missing.ppm"), Path("x")}, "cannot open"},
        {{"encode", Path("small.ppm"), Path("x")}, "only 320 x 240"},
        {{"encode", Path("short.bgr"), Path("x")}, "exactly 230400"},
        {{"encode", Path("bottomless.bmp"), Path("x")}, "only 320 x 240"},
        {{"encode", Path("x.png"), Path("x")}, "unknown picture type"},
        {{"decode", Path("cut.frame"), Path("x.bgr")}, "not a compressed frame"},
        {{"decode", Path("cut.frame"), Path("x.gif")}, "unknown picture type"},
        {{"encode", "--threshold", "ten", "builtin", Path("x")}, "--threshold"},
        {{"encode", "builtin"}, "wrong number of arguments"},
        {{"stats"}, "wrong number of arguments"},
        {{"bench", "--iterations", "0", "builtin"}, "--iterations"},
    };
    for (const auto& [args, message] : cases) {
        const Result r = Streamtool(args);
        EXPECT_EQ(r.status, 1) << args.join(' ').toStdString();
        EXPECT_EQ(Lines(r.err), 1) << r.err;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    }
}

}  // namespace
