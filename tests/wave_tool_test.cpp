// The streamtool sound subcommands, run as a user runs them.
#include <QStringList>
#include <fstream>
#include <iterator>

#include "audio/CWAVE.h"
#include "program_process.h"
#include "server/server_sounds.h"
#include "wave_test_rig.h"

namespace {

using Result = program_test::Finished;

Result Streamtool(const QStringList& args) {
    std::vector<std::string> list;
    for (const QString& a : args) list.push_back(a.toStdString());
    return program_test::RunToEnd("streamtool", list, 20000);
}

std::vector<std::uint8_t> Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

TEST(StreamtoolSound, CompressesAndExpandsExactlyAsSoundBlocksCarrySound) {
    QTemporaryDir dir;
    const QString voice = QStringLiteral(STREAM_SAMPLES_DIR "/voice_8k.wav");
    const QString packed = dir.filePath("voice.u8"), wav = dir.filePath("back.wav"),
                  raw = dir.filePath("back.s16le");
    ASSERT_EQ(Streamtool({"sound-compress", voice, packed}).status, 0);
    ASSERT_EQ(Streamtool({"sound-expand", packed, wav}).status, 0);
    ASSERT_EQ(Streamtool({"sound-expand", packed, raw}).status, 0);

    const std::vector<std::int16_t> original = wave_test::ReadSamples(voice.toStdString());
    const std::vector<std::uint8_t> bytes = Bytes(packed.toStdString());
    ASSERT_EQ(bytes.size(), original.size());
    CWAVE w;
    std::vector<std::uint8_t> want(original.size());
    w.WaveCompress(original, want);
    EXPECT_EQ(bytes, want);
    std::vector<std::int16_t> expanded(bytes.size());
    w.WaveExpand(bytes, expanded);
    EXPECT_EQ(wave_test::ReadSamples(wav.toStdString()), expanded);
    const std::vector<std::uint8_t> le = Bytes(raw.toStdString());
    ASSERT_EQ(le.size(), 2 * expanded.size());
    for (std::size_t i = 0; i < expanded.size(); ++i) {
        ASSERT_EQ(static_cast<std::int16_t>(le[2 * i] | (le[2 * i + 1] << 8)), expanded[i]);
    }
}

TEST(StreamtoolSound, RefusesSoundThatIsNotEightKilohertzSixteenBitMono) {
    QTemporaryDir dir;
    const std::string fast = dir.filePath("fast.wav").toStdString();
    ASSERT_TRUE(platform::WriteWavFile(fast, 16000, std::vector<std::int16_t>(100, 5), nullptr));
    const Result r = Streamtool({"sound-compress", QString::fromStdString(fast), dir.filePath("x.u8")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("8000 Hz 16-bit mono"), std::string::npos) << r.err;
    EXPECT_EQ(Streamtool({"sound-compress", dir.filePath("missing.wav"), dir.filePath("x.u8")}).status, 1);
    EXPECT_EQ(Streamtool({"sound-expand", dir.filePath("missing.u8"), dir.filePath("x.wav")}).status, 1);
    EXPECT_EQ(Streamtool({"playback", "--audio-out", "loud", fast.c_str()}).status, 1);
}

TEST(StreamtoolSound, PlaybackPlaysEveryBlockThroughTheQueueAndCountsThem) {
    QTemporaryDir dir;
    const std::string in = dir.filePath("tone.wav").toStdString(),
                      out = dir.filePath("out.wav").toStdString();
    std::vector<std::int16_t> tone(4800);  // three blocks
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = static_cast<std::int16_t>(i % 16 < 8 ? 3000 : -3000);
    ASSERT_TRUE(platform::WriteWavFile(in, 8000, tone, nullptr));
    const Result r = Streamtool({"playback", "--audio-out", QString::fromStdString("null:" + out),
                                 "--jitter-ms", "50", QString::fromStdString(in)});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("blocks: 3 sent"), std::string::npos) << r.out;
    const std::vector<std::int16_t> played = wave_test::ReadSamples(out);
    const auto sound = std::count_if(played.begin(), played.end(), [](std::int16_t s) { return s != 0; });
    EXPECT_GE(sound, 3 * 1520);  // all three blocks, whatever their lengths
    EXPECT_LE(sound, 3 * 1679);
}

TEST(StreamtoolSound, MakeSoundsWritesTheServersTwoFiles) {
    QTemporaryDir dir;
    const QString folder = dir.filePath("sounds");
    ASSERT_EQ(Streamtool({"make-sounds", folder}).status, 0);
    EXPECT_EQ(wave_test::ReadSamples((folder + "/stream.wav").toStdString()), tessaly::MakeChimeSamples());
    EXPECT_EQ(wave_test::ReadSamples((folder + "/danger.wav").toStdString()), tessaly::MakeAlarmSamples());
}
