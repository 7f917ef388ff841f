// tessaly as a program: started --headless on ports of 127.0.0.1 that the system chooses with the test
// picture and a tone, looked at by streamtool probe and by a receiver written here. Every wait is bounded;
// the server is killed at the end whatever happened.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QStringList>
#include <QTemporaryDir>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "audio/CWAVE.h"
#include "codec/CCODEC.h"
#include "csock_test_util.h"
#include "platform/capture/timestamp.h"
#include "program_process.h"
#include "server/options.h"

namespace {

using program_test::Program;

class ServerEndToEndTest : public ::testing::Test {
  protected:
    // Starts the server and waits for its listening line.
    bool StartServer() {
        server_ = std::make_unique<program_test::Tessaly>();
        if (!server_->WaitForPorts()) return false;
        video_port_ = server_->GetPorts().video;
        sound_port_ = server_->GetPorts().sound;
        return server_->WaitForLine("待機します。(127.0.0.1)", 5000);
    }
    std::string Output() const { return server_ ? server_->Output() : std::string(); }

    // Runs streamtool probe against the server; returns its standard output.
    QString Probe(const QStringList& extra) {
        std::vector<std::string> args = {"probe", "--video-port", std::to_string(video_port_), "--sound-port",
                                         std::to_string(sound_port_)};
        for (const QString& a : extra) args.push_back(a.toStdString());
        args.push_back("127.0.0.1");
        const program_test::Finished probe = program_test::RunToEnd("streamtool", args, 20000);
        if (probe.status == -1) return {};
        EXPECT_EQ(probe.status, 0) << probe.err;
        return QString::fromStdString(probe.out);
    }

    std::unique_ptr<program_test::Tessaly> server_;
    std::uint16_t video_port_ = 0;
    std::uint16_t sound_port_ = 0;
};

std::vector<std::uint8_t> ReadFile(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST_F(ServerEndToEndTest, FramesDecodeToTheTestPictureAndTheToneArrives) {
    ASSERT_TRUE(StartServer()) << Output();
    QTemporaryDir frames;
    ASSERT_TRUE(frames.isValid());
    // A first look lets the server compress pictures; the frame it holds stays for the next receiver.
    ASSERT_TRUE(Probe({"--seconds", "0.5"}).contains("frames="));
    const QString summary = Probe({"--frames", "30", "--seconds", "10", "--save-dir", frames.path()});
    ASSERT_TRUE(summary.contains("frames=30")) << summary.toStdString();

    // The frames arrive compressed by the real codec; the newest ones carry the test picture's time stamp.
    CCODEC decoder;
    decoder.敷居 = 15;
    std::vector<std::uint8_t> picture(230400);
    const QStringList saved = QDir(frames.path()).entryList({"frame_*.bin"}, QDir::Files, QDir::Name);
    ASSERT_EQ(saved.size(), 30);
    int stamped = 0;
    for (const QString& name : saved) {
        const std::vector<std::uint8_t> frame = ReadFile(frames.filePath(name));
        if (frame.empty()) continue;  // a request answered before the first picture was compressed
        ASSERT_EQ(decoder.DecodeDCTPress(frame, picture), 0) << name.toStdString();
        stamped += platform::ReadTimeStamp(picture.data()).has_value();
    }
    EXPECT_GT(stamped, 0);

    // A receiver written here: video first, then sound; the sound blocks hold the tone.
    const int video = csock_test::PeerConnect(video_port_);
    // A frame answered proves the video connection placed: the server pairs sound with the one before it.
    csock_test::WriteAll(video, {'V', 0, 'i', 0, 'd', 0, 'e', 0, 'o', 0, 'N', 0, 'e', 0, 'x', 0, 't', 0});
    ASSERT_FALSE(csock_test::ReadExactly(video, 2).empty());
    const int sound = csock_test::PeerConnect(sound_port_);
    const std::vector<std::uint8_t> block = csock_test::ReadExactly(sound, 1600);
    ::close(sound);
    ::close(video);
    ASSERT_EQ(block.size(), 1600u);
    std::int16_t samples[1600];
    CWAVE().WaveExpand(block, samples);
    int crossings = 0;
    for (int i = 1; i < 1600; ++i) crossings += (samples[i - 1] < 0) != (samples[i] < 0);
    EXPECT_NEAR(crossings, 2 * 440 / 5, 10);  // a 440 Hz tone over 0.2 s

    // Commands on standard input: the security mode flips and says so. Every 2 s tick prints the list.
    server_->Send("sec");
    EXPECT_TRUE(server_->WaitForLine("security mode off", 5000)) << Output();
    EXPECT_TRUE(server_->WaitForLine("Connect=", 5000)) << Output();

    // "quit" ends the program in order.
    server_->Send("quit");
    ASSERT_TRUE(server_->WaitForExit(10000));
    EXPECT_EQ(server_->ExitCode(), 0);  // -1 for anything but a normal exit
}

TEST_F(ServerEndToEndTest, AReceiverAskingAsFastAsItCanGetsEachPictureOnceAtAboutTheCaptureRate) {
    ASSERT_TRUE(StartServer()) << Output();
    QTemporaryDir frames;
    ASSERT_TRUE(frames.isValid());
    // The probe asks again the moment a frame arrives; the test picture changes with every capture (15/s).
    const QString summary = Probe({"--seconds", "3", "--save-dir", frames.path()});
    const QStringList saved = QDir(frames.path()).entryList({"frame_*.bin"}, QDir::Files, QDir::Name);
    // Bounds wide enough for a busy machine; a server that repeats pictures sends thousands a second.
    EXPECT_GE(saved.size(), 10) << summary.toStdString();
    EXPECT_LE(saved.size(), 90) << summary.toStdString();
    std::set<std::vector<std::uint8_t>> distinct;
    for (const QString& name : saved) {
        const std::vector<std::uint8_t> frame = ReadFile(frames.filePath(name));
        EXPECT_FALSE(frame.empty()) << name.toStdString();
        EXPECT_TRUE(distinct.insert(frame).second) << name.toStdString() << " repeats an earlier frame";
    }
}

TEST_F(ServerEndToEndTest, SigtermEndsTheServerLikeEnd) {
    ASSERT_TRUE(StartServer()) << Output();
    EXPECT_NE(video_port_, sound_port_);
    EXPECT_EQ(server_->GetPorts().http, 0) << "the web page is off";
    server_->Terminate();
    ASSERT_TRUE(server_->WaitForExit(10000));
    EXPECT_EQ(server_->ExitCode(), 0);  // -1 for anything but a normal exit
}

// Eight pictures of one colour each (the same top-down and bottom-up), each with its compressed frame as the
// server makes it.
struct RawPictures {
    std::string bytes;
    std::set<std::vector<std::uint8_t>> frames;
};

RawPictures MakeRawPictures() {
    RawPictures out;
    CCODEC encoder;
    encoder.InitDCT();
    encoder.敷居 = codec::kServerThreshold;
    std::vector<std::uint8_t> press(15003);
    for (int i = 0; i < 8; ++i) {
        std::string picture;
        for (int pixel = 0; pixel < 320 * 240; ++pixel) picture += {char(i * 30), char(250 - i * 30), '\x64'};
        EXPECT_EQ(
            encoder.EncodeDCTPress(
                std::span(reinterpret_cast<const std::uint8_t*>(picture.data()), picture.size()), press),
            0);
        out.frames.emplace(press.begin(), press.begin() + encoder.SendDataSize);
        out.bytes += picture;
    }
    return out;
}

// The frames of raw:- come on standard input; the console takes its commands from --commands (a FIFO here)
// and never reads the frames.
TEST_F(ServerEndToEndTest, RawFramesOnStandardInputArriveWholeWhileCommandsComeFromTheirFifo) {
    QTemporaryDir folder;
    const std::string fifo = folder.filePath("commands").toStdString();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    server_ = std::make_unique<program_test::Tessaly>(
        std::vector<std::string>{"--capture", "raw:-", "--commands", fifo});
    ASSERT_TRUE(server_->WaitForPorts()) << server_->Errors();
    video_port_ = server_->GetPorts().video;
    sound_port_ = server_->GetPorts().sound;
    const RawPictures pictures = MakeRawPictures();
    QTemporaryDir frames;
    Program probe("streamtool", {"probe", "--video-port", std::to_string(video_port_), "--sound-port",
                                 std::to_string(sound_port_), "--frames", "12", "--seconds", "10",
                                 "--save-dir", frames.path().toStdString(), "127.0.0.1"});
    for (int round = 0; round < 3; ++round) server_->SendBytes(pictures.bytes);  // 15 a second: 1.6 s
    ASSERT_TRUE(probe.WaitForExit(15000));
    const std::string summary = probe.Output() + probe.Errors();
    const QStringList saved = QDir(frames.path()).entryList({"frame_*.bin"}, QDir::Files, QDir::Name);
    ASSERT_GE(saved.size(), 8) << summary;
    std::set<std::vector<std::uint8_t>> seen;
    for (const QString& name : saved) {
        const std::vector<std::uint8_t> frame = ReadFile(frames.filePath(name));
        if (frame.empty()) continue;  // answered before the first picture
        EXPECT_EQ(pictures.frames.count(frame), 1u) << name.toStdString() << " is none of the pictures sent";
        seen.insert(frame);
    }
    EXPECT_GE(seen.size(), 2u);
    EXPECT_EQ(server_->Errors().find("unknown command"), std::string::npos) << server_->Errors();
    const int commands = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);  // fails at once without a reader
    ASSERT_GE(commands, 0);
    const std::string lines = "sec\nquit\n";
    EXPECT_EQ(::write(commands, lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
    ::close(commands);
    EXPECT_TRUE(server_->WaitForLine("security mode off")) << Output();
    ASSERT_TRUE(server_->WaitForExit(10000));
    EXPECT_EQ(server_->ExitCode(), 0);
}

TEST(ServerPortFileTest, OneThatCannotBeWrittenIsReportedAndTheServerServesAllTheSame) {
    Program server("tessaly", program_test::TessalyArgs("/nonexistent/ports"));
    ASSERT_TRUE(server.WaitForErrorLine(
        "tessaly: cannot write the port file /nonexistent/ports.partial: No such file or directory"))
        << server.Errors();
    EXPECT_TRUE(server.WaitForLine("待機します。(127.0.0.1)")) << server.Output();
    EXPECT_FALSE(std::filesystem::exists("/nonexistent/ports.partial"));
}

TEST(ServerOptionsTest, DefaultsErrorsAndHelp) {
    tessaly::Options o;
    std::string error;
    std::string out;
    ASSERT_EQ(tessaly::ParseOptions({"tessaly"}, &o, &out, &error), tessaly::ParseOutcome::kRun);
    EXPECT_EQ(o.server.video_port, 8001);
    EXPECT_EQ(o.server.sound_port, 8002);
    EXPECT_EQ(o.server.capture, "auto");
    EXPECT_FALSE(o.headless);
    EXPECT_FALSE(o.serve);
    EXPECT_EQ(o.server.web.port, 8080);
    EXPECT_TRUE(o.server.port_file.empty());
    EXPECT_EQ(tessaly::ParseOptions({"tessaly", "--video-port", "70000"}, &o, &out, &error),
              tessaly::ParseOutcome::kError);
    EXPECT_NE(error.find("video port"), std::string::npos);
    // 0 asks the system for free ports (both may be 0), "any" for the web page's; --port-file tells them.
    ASSERT_EQ(tessaly::ParseOptions({"tessaly", "--video-port", "0", "--sound-port", "0", "--http-port",
                                     "any", "--port-file", "ports.txt"},
                                    &o, &out, &error),
              tessaly::ParseOutcome::kRun)
        << error;
    EXPECT_EQ(o.server.video_port, 0);
    EXPECT_EQ(o.server.sound_port, 0);
    EXPECT_TRUE(o.server.web_on_any_port);
    EXPECT_EQ(o.server.port_file, "ports.txt");
    EXPECT_EQ(tessaly::ParseOptions({"tessaly", "--sound-port", "8001"}, &o, &out, &error),
              tessaly::ParseOutcome::kError);
    EXPECT_EQ(tessaly::ParseOptions({"tessaly", "--nonsense"}, &o, &out, &error),
              tessaly::ParseOutcome::kError);
    EXPECT_EQ(tessaly::ParseOptions({"tessaly", "--help"}, &o, &out, &error), tessaly::ParseOutcome::kExitOk);
    EXPECT_NE(out.find("Tessaly V1.10"), std::string::npos);
    EXPECT_NE(out.find("--bind"), std::string::npos);
}

TEST(ServerOptionsTest, AllowListAndResendFrames) {
    tessaly::Options o;
    std::string error;
    std::string out;
    ASSERT_EQ(tessaly::ParseOptions({"tessaly"}, &o, &out, &error), tessaly::ParseOutcome::kRun);
    EXPECT_FALSE(o.server.resend_frames);
    EXPECT_FALSE(o.server.allow.AllowsAnyone());
    EXPECT_TRUE(o.server.allow.Allows(static_cast<std::int32_t>(htonl(0xC0A80105))));  // 192.168.1.5
    ASSERT_EQ(tessaly::ParseOptions({"tessaly", "--allow", "any", "--resend-frames"}, &o, &out, &error),
              tessaly::ParseOutcome::kRun);
    EXPECT_TRUE(o.server.allow.AllowsAnyone());
    EXPECT_TRUE(o.server.resend_frames);
    EXPECT_EQ(tessaly::ParseOptions({"tessaly", "--allow", "10.0.0.0/8,300.1.1.1"}, &o, &out, &error),
              tessaly::ParseOutcome::kError);
    EXPECT_NE(error.find("'300.1.1.1'"), std::string::npos) << error;
}

TEST(ServerOptionsTest, ABadSoundBackendIsRefusedBeforeStart) {
    const program_test::Finished server =
        program_test::RunToEnd("tessaly", {"--headless", "--audio-in", "nonsense"}, 10000);
    EXPECT_EQ(server.status, 2);
    EXPECT_NE(server.err.find("--audio-in"), std::string::npos);
}

}  // namespace
