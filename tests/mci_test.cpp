// Sound commands over the output backend, and the server's generated sounds.
#include "platform/wave/mci.h"

#include <QDir>

#include "platform/window/paths.h"
#include "server/server_sounds.h"
#include "wave_test_rig.h"

using namespace platform;
using wave_test::WaveRig;

namespace {

// Runs in a temporary program folder holding the generated stream.wav and danger.wav.
class MciTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        saved_folder_ = ProgramFolder();
        SetProgramFolder(Folder());
        std::string error;
        ASSERT_TRUE(tessaly::WriteServerSounds(Folder(), &error)) << error;
    }
    void TearDown() override {
        mciSendString("close all");
        SetProgramFolder(saved_folder_);
    }
    std::string Folder() const { return dir_.path().toStdString(); }
    std::string Recording() const { return dir_.filePath("out.wav").toStdString(); }

    QTemporaryDir dir_;
    std::string saved_folder_;
};

}  // namespace

TEST_F(MciTest, PlayStartsTheSoundFromItsBeginningWithoutWaitingAndPlaysItWhole) {
    WaveRig rig("none", "null:" + Recording());
    ASSERT_EQ(mciSendString("Open stream.wav alias in"), 0u);  // a name in the program's folder
    ASSERT_EQ(mciSendString("Play in from 0"), 0u);
    EXPECT_EQ(MciPlayingCount(), 1);  // returned at once, still playing
    const std::vector<std::int16_t> chime = tessaly::MakeChimeSamples();
    rig.Step(static_cast<std::int64_t>(chime.size()) * 125 + 10000);
    EXPECT_EQ(MciPlayingCount(), 0);
    ASSERT_EQ(mciSendString("close all"), 0u);
    EXPECT_EQ(MciOpenCount(), 0);
    EXPECT_EQ(wave_test::ReadSamples(Recording()), chime);
}

TEST_F(MciTest, PlayingAgainRestartsFromTheBeginning) {
    WaveRig rig("none", "null:" + Recording());
    ASSERT_EQ(mciSendString("OPEN danger.wav ALIAS Danger"), 0u);  // keywords and names in any case
    ASSERT_EQ(mciSendString("play danger from 0"), 0u);
    rig.Step(100000);
    ASSERT_EQ(mciSendString("play DANGER from 0"), 0u);
    const std::vector<std::int16_t> alarm = tessaly::MakeAlarmSamples();
    rig.Step(static_cast<std::int64_t>(alarm.size()) * 125 + 10000);
    mciSendString("close danger");
    const std::vector<std::int16_t> played = wave_test::ReadSamples(Recording());
    ASSERT_EQ(played.size(), 800 + alarm.size());  // 0.1 s of the first play, then all of it
    EXPECT_TRUE(std::equal(alarm.begin(), alarm.end(), played.begin() + 800));
}

TEST_F(MciTest, AMissingFileOnlyMeansSilence) {
    WaveRig rig;
    EXPECT_EQ(mciSendString("open nowhere.wav alias gone"), MCIERR_FILE_NOT_FOUND);
    EXPECT_EQ(mciSendString("play gone from 0"), MCIERR_INVALID_DEVICE_NAME);
    EXPECT_EQ(MciOpenCount(), 0);
    EXPECT_EQ(mciSendString("close all"), 0u);
}

TEST_F(MciTest, BadCommandsAreRefusedWithoutSideEffects) {
    WaveRig rig;
    ASSERT_EQ(mciSendString("open \"" + Folder() + "/stream.wav\" type waveaudio alias in"), 0u);
    EXPECT_EQ(mciSendString("open stream.wav alias in"), MCIERR_DUPLICATE_ALIAS);
    EXPECT_EQ(mciSendString("play in from soon"), MCIERR_BAD_INTEGER);
    EXPECT_EQ(mciSendString("play in backwards"), MCIERR_UNRECOGNIZED_KEYWORD);
    EXPECT_EQ(mciSendString("rewind in"), MCIERR_UNRECOGNIZED_COMMAND);
    EXPECT_EQ(mciSendString(""), MCIERR_MISSING_COMMAND_STRING);
    EXPECT_EQ(mciSendString("open"), MCIERR_MISSING_PARAMETER);
    EXPECT_EQ(MciPlayingCount(), 0);
    EXPECT_EQ(MciOpenCount(), 1);

    const std::string text = Folder() + "/notes.wav";
    std::FILE* f = std::fopen(text.c_str(), "w");
    std::fputs("not a sound", f);
    std::fclose(f);
    EXPECT_EQ(mciSendString("open notes.wav alias notes"), MCIERR_INVALID_FILE);
}

TEST_F(MciTest, WithNoOutputDeviceAPlayFailsQuietly) {
    WaveRig rig("none", "none");
    ASSERT_EQ(mciSendString("open stream.wav alias in"), 0u);
    EXPECT_EQ(mciSendString("play in from 0"), MCIERR_DEVICE_NOT_READY);
    EXPECT_EQ(MciPlayingCount(), 0);
}

TEST(ServerSounds, AreShortAudibleAndDifferent) {
    const std::vector<std::int16_t> chime = tessaly::MakeChimeSamples();
    const std::vector<std::int16_t> alarm = tessaly::MakeAlarmSamples();
    EXPECT_GT(chime.size(), 4000u);   // over half a second
    EXPECT_LT(chime.size(), 16000u);  // under two
    EXPECT_GT(alarm.size(), chime.size());
    auto peak = [](const std::vector<std::int16_t>& s) {
        int p = 0;
        for (std::int16_t v : s) p = std::max(p, std::abs(static_cast<int>(v)));
        return p;
    };
    EXPECT_GT(peak(chime), 8000);
    EXPECT_GT(peak(alarm), 8000);
    EXPECT_LT(std::abs(chime.front()) + std::abs(alarm.front()), 200);  // no click at the start
    EXPECT_NE(chime, std::vector<std::int16_t>(alarm.begin(), alarm.begin() + chime.size()));
}
