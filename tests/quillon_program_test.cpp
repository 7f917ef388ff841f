// The quillon program end to end, headless, on 127.0.0.1 and free ports: against the tests' own server,
// and against tessaly with its test picture and tone; reconnecting, and --connect without a server.
#include <fstream>
#include <iterator>
#include <regex>
#include <tuple>

#include "media/picture_file.h"
#include "program_process.h"
#include "receiver/receiver_window.h"
#include "receiver_test_server.h"
#include "receiver_test_util.h"

using program_test::Program;
using receiver_test::ThreadServer;

namespace {

class QuillonProgram : public receiver_test::ReceiverTest {
  protected:
    std::vector<std::uint8_t> ReadFile(const std::string& name) const {
        std::ifstream in(PathOf(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::vector<std::string> Args(std::uint16_t video, std::uint16_t sound) const {
        return {"--headless",   "--connect",
                "--dir",        dir_.string(),
                "--video-port", std::to_string(video),
                "--sound-port", std::to_string(sound),
                "--audio-out",  "null:" + PathOf("OUT.wav"),
                "--raw-out",    PathOf("frames.bgr")};
    }
    // The raw output holds whole top-down pictures; one of them is the snapshot's (bottom-up) picture.
    bool SnapshotIsADecodedFrame() const {
        const std::vector<std::uint8_t> raw = ReadFile("frames.bgr");
        const std::vector<std::uint8_t> snap = ReadFile("PICTUTE.BMP");
        if (raw.size() < 230400u || raw.size() % 230400u != 0 || snap.size() != 230455u) return false;
        for (std::size_t at = 0; at + 230400 <= raw.size(); at += 230400) {
            bool same = true;
            for (int row = 0; row < 240 && same; ++row) {
                same = std::equal(raw.begin() + at + row * 960, raw.begin() + at + row * 960 + 960,
                                  snap.begin() + 54 + (239 - row) * 960);
            }
            if (same) return true;
        }
        return false;
    }
};

TEST_F(QuillonProgram, ShowsFramesWritesPicturesAndEndsOnQuit) {
    WriteInit("127.0.0.1\n");
    ThreadServer server(true);
    Program quillon("quillon", Args(server.VideoPort(), server.SoundPort()));
    ASSERT_TRUE(quillon.Started());
    ASSERT_TRUE(quillon.WaitForLine("接続しました。")) << quillon.Errors();
    server.SendSoundBlocks(10);
    ASSERT_TRUE(quillon.WaitForLine("frames/s ")) << quillon.Output();
    quillon.Send("snap");
    ASSERT_TRUE(WaitFor([&] { return ReadFile("PICTUTE.BMP").size() == 230455u; }, 4000));
    quillon.Send("quit");
    ASSERT_TRUE(quillon.WaitForExit());
    EXPECT_EQ(quillon.ExitCode(), 0) << quillon.Errors();

    EXPECT_TRUE(SnapshotIsADecodedFrame());
    EXPECT_GT(std::filesystem::file_size(PathOf("OUT.wav")), 44u) << "the sound was played";
}

TEST_F(QuillonProgram, RefusesBadOptionsClearly) {
    for (const auto& [option, value, complaint] :
         {std::tuple{"--video-port", "70000", "bad video port"}, std::tuple{"--server", "", "bad server"}}) {
        Program quillon("quillon", {"--headless", option, value});
        ASSERT_TRUE(quillon.WaitForExit());
        EXPECT_EQ(quillon.ExitCode(), 2);
        EXPECT_NE(quillon.Errors().find(complaint), std::string::npos) << quillon.Errors();
    }
}

TEST_F(QuillonProgram, ReconnectsToTheNamedServerWhenItComesBack) {
    // No init.txt: --server names the server, and nothing is missing.
    auto server = std::make_unique<ThreadServer>(true);
    const std::uint16_t video = server->VideoPort();
    const std::uint16_t sound = server->SoundPort();
    std::vector<std::string> args = Args(video, sound);
    args.insert(args.end(), {"--server", "127.0.0.1", "--reconnect"});
    Program quillon("quillon", args);
    ASSERT_TRUE(quillon.WaitForLine("接続しました。")) << quillon.Errors();
    server->ResetVideo();
    ASSERT_TRUE(quillon.WaitForLine("切断しました。")) << quillon.Output();
    server.reset();
    server = std::make_unique<ThreadServer>(true, video, sound);
    ASSERT_TRUE(quillon.WaitForLine("再接続中 (1 回目)", 10000)) << quillon.Output();
    ASSERT_TRUE(quillon.WaitForLine("接続しました。", 10000, 2)) << quillon.Output();
    quillon.Send("quit");
    ASSERT_TRUE(quillon.WaitForExit());
    EXPECT_EQ(quillon.Errors(), "");
}

TEST_F(QuillonProgram, ConnectWithoutANamedServerConnectsNowhere) {
    if (!program_test::CanIsolateNetwork()) GTEST_SKIP() << "unshare -n is not permitted here";
    // No init.txt and no --server: --connect says so. The user's own 接続 still takes the built-in
    // default address, which is out of reach inside the namespace (network unreachable).
    Program quillon(program_test::Isolated(
        "quillon", {"--headless", "--connect", "--dir", dir_.string(), "--audio-out", "null"}));
    ASSERT_TRUE(quillon.WaitForErrorLine("no server is named")) << quillon.Errors();
    EXPECT_NE(quillon.Errors().find("Quillon: no init.txt in " + dir_.string() +
                                    ": name the server with --server HOST"),
              std::string::npos)
        << "one line names the folder and the option: " << quillon.Errors();
    quillon.WaitForLine("接続", 1000);
    EXPECT_EQ(quillon.Output().find("接続"), std::string::npos) << "no attempt: " << quillon.Output();
    quillon.Send("connect");
    ASSERT_TRUE(quillon.WaitForLine(receiver::ConnectFailedText(10051))) << quillon.Output();
    quillon.Send("quit");
    EXPECT_TRUE(quillon.WaitForExit());
}

TEST_F(QuillonProgram, SIGTERMEndsItWhileTheStartUpBoxIsOpen) {
    WriteInit("127.0.0.1,2,3,4,5,6,7,8,9,10,11,12\n");  // a broken file: the designed box opens
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    Program quillon("quillon", {"--dir", dir_.string(), "--audio-out", "none"});
    qputenv("QT_QPA_PLATFORM", platform);
    ASSERT_TRUE(quillon.Started());
    EXPECT_FALSE(quillon.WaitForExit(1500)) << "the box waits for OK: " << quillon.Errors();
    quillon.Terminate();
    ASSERT_TRUE(quillon.WaitForExit(5000)) << "SIGTERM was lost";
    EXPECT_EQ(quillon.ExitCode(), 0) << quillon.Errors();
}

// The tone of the server's sound input, found in the receiver's recording: its samples swing well away
// from silence.
bool HoldsATone(const std::vector<std::uint8_t>& wav) {
    if (wav.size() < 44 + 3200) return false;
    int loud = 0;
    for (std::size_t i = 44; i + 1 < wav.size(); i += 2) {
        const auto sample = static_cast<std::int16_t>(wav[i] | wav[i + 1] << 8);
        loud += sample > 1000 || sample < -1000;
    }
    return loud > 1600;
}

TEST_F(QuillonProgram, AgainstTessalyWithItsTestPictureAndTone) {
    if (!program_test::HaveProgram("tessaly")) GTEST_SKIP() << "tessaly is not built yet";
    WriteInit("127.0.0.1\n");
    program_test::Tessaly tessaly({"--dir", dir_.string()});
    // Connect only once the server listens: its port file is written from then on.
    ASSERT_TRUE(tessaly.WaitForPorts()) << tessaly.Errors();
    Program quillon("quillon", Args(tessaly.GetPorts().video, tessaly.GetPorts().sound));
    ASSERT_TRUE(quillon.WaitForLine("接続しました。", 10000)) << quillon.Output() << quillon.Errors();
    ASSERT_TRUE(quillon.WaitForLine("frames/s ", 10000)) << quillon.Output();
    quillon.Send("snap");
    ASSERT_TRUE(WaitFor([&] { return ReadFile("PICTUTE.BMP").size() == 230455u; }, 4000));
    Settle(1500);
    quillon.Send("quit");
    ASSERT_TRUE(quillon.WaitForExit());
    EXPECT_TRUE(std::regex_search(quillon.Output(), std::regex("frames/s [1-9]"))) << quillon.Output();
    EXPECT_NE(quillon.Output().find("latency median"), std::string::npos);
    EXPECT_TRUE(SnapshotIsADecodedFrame());
    EXPECT_TRUE(HoldsATone(ReadFile("OUT.wav"))) << "the tone arrived";
}

}  // namespace
