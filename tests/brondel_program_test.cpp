// The brondel program end to end, headless, with two servers on 127.0.0.1 and 127.0.0.2 and the same
// free ports: the tests' own servers named in init.txt, two tessaly named on the command line, and
// --connect without a server.
#include <fstream>
#include <iterator>
#include <regex>

#include "program_process.h"
#include "receiver/receiver_window.h"
#include "receiver_test_server.h"
#include "receiver_test_util.h"

using program_test::Program;
using receiver_test::ThreadServer;

namespace {

class BrondelProgram : public receiver_test::ReceiverTest {
  protected:
    std::vector<std::string> Args(std::uint16_t video, std::uint16_t sound) const {
        return {"--headless",
                "--connect",
                "both",
                "--dir",
                dir_.string(),
                "--video-port",
                std::to_string(video),
                "--sound-port",
                std::to_string(sound),
                "--audio-out",
                "null:" + PathOf("OUT.wav")};
    }
    // True once a per-second line shows frames from both servers.
    static bool BothStreaming(Program& brondel) {
        static const std::regex line("server 1 frames/s ([1-9][0-9]*)  server 2 frames/s ([1-9][0-9]*)");
        for (int n = 0; n < 10; ++n) {
            if (std::regex_search(brondel.Output(), line)) return true;
            brondel.WaitForLine("\n#never#", 500);
        }
        return false;
    }
    std::uintmax_t WavBytes() const {
        std::error_code ec;
        const auto size = std::filesystem::file_size(PathOf("OUT.wav"), ec);
        return ec ? 0 : size;
    }
};

TEST_F(BrondelProgram, ShowsBothServersAndPlaysTheSelectedOne) {
    WriteInit("127.0.0.1,127.0.0.2,20\n");
    ThreadServer one(true);
    ThreadServer two(true, one.VideoPort(), one.SoundPort(), "127.0.0.2");
    Program brondel("brondel", Args(one.VideoPort(), one.SoundPort()));
    ASSERT_TRUE(brondel.Started());
    ASSERT_TRUE(brondel.WaitForLine("server 1: 接続しました。")) << brondel.Errors();
    ASSERT_TRUE(brondel.WaitForLine("server 2: 接続しました。")) << brondel.Errors();
    ASSERT_TRUE(BothStreaming(brondel)) << brondel.Output();

    // Server 2 is not selected: its sound is dropped and nothing is played.
    two.SendSoundBlocks(10);
    Settle(600);
    brondel.Send("sound 1");
    one.SendSoundBlocks(10);
    Settle(600);
    brondel.Send("snap 2");
    Settle(300);
    brondel.Send("quit");
    ASSERT_TRUE(brondel.WaitForExit());
    EXPECT_EQ(brondel.ExitCode(), 0) << brondel.Errors();
    EXPECT_EQ(std::filesystem::file_size(PathOf("PICTUTE1.BMP")), 230455u);
    EXPECT_GT(WavBytes(), 44u + 3200u) << "server 1's sound was played";
}

TEST_F(BrondelProgram, TwoTessalyServersNamedOnTheCommandLine) {
    if (!program_test::HaveProgram("tessaly")) GTEST_SKIP() << "tessaly is not built yet";
    // Brondel takes one pair of ports for both: the second server, on an address of its own, listens on the
    // ports that the system chose for the first. Connect only once both listen (their port files are there).
    program_test::Tessaly first({"--dir", dir_.string()});
    ASSERT_TRUE(first.WaitForPorts()) << first.Errors();
    const std::uint16_t video = first.GetPorts().video;
    const std::uint16_t sound = first.GetPorts().sound;
    program_test::Tessaly second({"--bind", "127.0.0.2", "--dir", dir_.string(), "--video-port",
                                  std::to_string(video), "--sound-port", std::to_string(sound)});
    ASSERT_TRUE(second.WaitForPorts()) << second.Errors();
    std::vector<std::string> args = Args(video, sound);
    args.insert(args.end(), {"--server1", "127.0.0.1", "--server2", "127.0.0.2", "--interval", "20"});
    Program brondel("brondel", args);
    ASSERT_TRUE(brondel.WaitForLine("server 1: 接続しました。", 10000))
        << brondel.Output() << brondel.Errors();
    ASSERT_TRUE(brondel.WaitForLine("server 2: 接続しました。", 10000))
        << brondel.Output() << brondel.Errors();
    ASSERT_TRUE(BothStreaming(brondel)) << brondel.Output();
    Settle(1500);
    brondel.Send("quit");
    ASSERT_TRUE(brondel.WaitForExit());
    EXPECT_GT(WavBytes(), 44u + 3200u) << "the selected server's tone was played";
    EXPECT_EQ(brondel.Errors().find("INIT.TXT"), std::string::npos) << "no init.txt is needed";
}

TEST_F(BrondelProgram, ConnectWithoutANamedServerConnectsNowhere) {
    if (!program_test::CanIsolateNetwork()) GTEST_SKIP() << "unshare -n is not permitted here";
    // init.txt names server 1 only: server 1 is tried (and refused inside the namespace), server 2 is not.
    WriteInit("127.0.0.1\n");
    Program brondel(program_test::Isolated(
        "brondel", {"--headless", "--connect", "both", "--dir", dir_.string(), "--audio-out", "null"}));
    ASSERT_TRUE(brondel.WaitForErrorLine("no server is named for server 2")) << brondel.Errors();
    ASSERT_TRUE(brondel.WaitForLine("server 1: " + receiver::ConnectFailedText(10061))) << brondel.Output();
    brondel.WaitForLine("server 2", 500);
    EXPECT_EQ(brondel.Output().find("server 2"), std::string::npos) << brondel.Output();
    EXPECT_EQ(brondel.Errors().find("for server 1"), std::string::npos) << brondel.Errors();
    brondel.Send("quit");
    EXPECT_TRUE(brondel.WaitForExit());
}

}  // namespace
