// tessaly's web face end to end: the program started --headless on ports of 127.0.0.1 that it reports, looked
// at by a real quillon, streamtool probe and the plain HTTP client of the web tests. Every wait is bounded.
#include <cmath>
#include <fstream>
#include <future>
#include <iterator>

#include "codec_pictures.h"
#include "program_process.h"
#include "receiver_test_util.h"
#include "web/sound_exchange.h"
#include "web_test_util.h"

using program_test::Program;

namespace {

class WebEndToEnd : public receiver_test::ReceiverTest {
  protected:
    // Starts tessaly serving `capture` and a tone; waits for its page address.
    void StartServer(const std::string& capture, const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args = {"--capture",   capture, "--audio-out", "null:" + PathOf("OUT.wav"),
                                         "--http-port", "any"};
        args.insert(args.end(), extra.begin(), extra.end());
        server_ = std::make_unique<program_test::Tessaly>(args);
        ASSERT_TRUE(server_->WaitForPorts()) << server_->Errors();
        video_port_ = server_->GetPorts().video;
        sound_port_ = server_->GetPorts().sound;
        http_port_ = server_->GetPorts().http;
        ASSERT_TRUE(server_->WaitForLine("web: http://127.0.0.1:" + std::to_string(http_port_) + "/"))
            << server_->Output() << server_->Errors();
    }

    std::vector<std::uint8_t> ReadFile(const std::string& name) const {
        std::ifstream in(PathOf(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // Runs streamtool probe against the server for a while; true when it ended well.
    bool Probe(double seconds) const {
        return program_test::RunToEnd("streamtool",
                                      {"probe", "--video-port", std::to_string(video_port_), "--sound-port",
                                       std::to_string(sound_port_), "--seconds",
                                       QString::number(seconds).toStdString(), "127.0.0.1"},
                                      20000)
                   .status == 0;
    }

    std::unique_ptr<program_test::Tessaly> server_;
    std::uint16_t video_port_ = 0;
    std::uint16_t sound_port_ = 0;
    std::uint16_t http_port_ = 0;
};

// Zero crossings per second of 16-bit little-endian samples at 8,000 per second, halved: the frequency.
double ToneFrequency(const std::string& pcm) {
    const auto* samples = reinterpret_cast<const std::int16_t*>(pcm.data());
    const std::size_t n = pcm.size() / 2;
    int crossings = 0;
    for (std::size_t i = 1; i < n; ++i) crossings += (samples[i - 1] < 0) != (samples[i] < 0);
    return crossings / 2.0 / (static_cast<double>(n) / 8000);
}

TEST_F(WebEndToEnd, SnapshotBitmapHoldsExactlyWhatQuillonsSnapshotHolds) {
    // A still picture, top-down as raw capture reads it, looped.
    const pictures::Picture picture = pictures::Gradients();
    {
        std::ofstream raw(PathOf("still.bgr"), std::ios::binary);
        for (int row = 239; row >= 0; --row)
            raw.write(reinterpret_cast<const char*>(&picture[row * 960]), 960);
    }
    StartServer("raw:" + PathOf("still.bgr"));
    WriteInit("127.0.0.1\n");
    Program quillon("quillon", {"--headless", "--connect", "--dir", dir_.string(), "--video-port",
                                std::to_string(video_port_), "--sound-port", std::to_string(sound_port_),
                                "--audio-out", "null"});
    ASSERT_TRUE(quillon.WaitForLine("frames/s ")) << quillon.Output() << quillon.Errors();
    quillon.Send("snap");
    ASSERT_TRUE(WaitFor([&] { return ReadFile("PICTUTE.BMP").size() == 230455u; }));
    const std::vector<std::uint8_t> snapshot = ReadFile("PICTUTE.BMP");

    const auto bmp = web_test::Get(http_port_, "/snapshot.bmp");
    ASSERT_EQ(bmp.status, 200);
    EXPECT_NE(bmp.head.find("Content-Type: image/bmp"), std::string::npos);
    EXPECT_TRUE(bmp.body == std::string(snapshot.begin(), snapshot.end()));
    // The receiver shows up in the status, in slot 1.
    const auto status = web_test::Get(http_port_, "/status.json");
    EXPECT_NE(status.body.find("\"receivers\":[{\"slot\":1,\"address\":\"127.0.0.1\""), std::string::npos)
        << status.body;
    quillon.Send("quit");
    EXPECT_TRUE(quillon.WaitForExit());
}

TEST_F(WebEndToEnd, SoundReachesTheWebWithoutReceiversAndGoesOnWhileOneComesAndGoes) {
    StartServer("testpattern");
    // 3 s of sound: a receiver comes and goes meanwhile, and the web listener's sound must go on after it.
    const std::size_t want = web::kWavHeaderBytes + 3 * 16000;
    auto listener =
        std::async(std::launch::async, [&] { return web_test::Get(http_port_, "/sound.wav", "", want); });
    ASSERT_TRUE(server_->WaitForLine("web viewers: 1 (pictures 0, sound 1)")) << server_->Output();
    EXPECT_TRUE(Probe(1));
    const auto wav = listener.get();
    ASSERT_EQ(wav.status, 200);
    ASSERT_GE(wav.body.size(), want);
    EXPECT_NEAR(ToneFrequency(wav.body.substr(web::kWavHeaderBytes)), 440, 440 * 0.02);
    EXPECT_TRUE(server_->WaitForLine("web viewers: 0 (pictures 0, sound 0)")) << server_->Output();
}

TEST_F(WebEndToEnd, AlarmFollowsTheSecurityMode) {
    StartServer("testpattern");
    EXPECT_EQ(web_test::Post(http_port_, "/alarm").body, "{\"played\":true}");
    ASSERT_TRUE(WaitFor([&] { return ReadFile("OUT.wav").size() > 8000; }))
        << "the alarm was not played into OUT.wav";
    server_->Send("sec");
    ASSERT_TRUE(server_->WaitForLine("security mode off"));
    const std::size_t played = ReadFile("OUT.wav").size();
    EXPECT_EQ(web_test::Post(http_port_, "/alarm").body, "{\"played\":false}");
    EXPECT_EQ(web_test::Post(http_port_, "/alarm", "Origin: http://elsewhere.example\r\n").status, 403);
    receiver_test::ReceiverTest::Settle(500);
    EXPECT_LE(ReadFile("OUT.wav").size(), played + 8000);  // at most the alarm's own tail, nothing new
    server_->Send("quit");
    ASSERT_TRUE(server_->WaitForExit());
    EXPECT_EQ(server_->ExitCode(), 0);
}

TEST_F(WebEndToEnd, WebOptionsAreCheckedAndAPortInUseLeavesTheServerServing) {
    for (const auto& [args, complaint] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--http-port", "70000"}, "bad HTTP port"},
             {{"--jpeg-quality", "0"}, "bad JPEG quality"},
             {{"--http-max-viewers", "none"}, "bad number of web viewers"},
             {{"--http-password-file", PathOf("missing.txt")}, "cannot read the password file"},
             {{"--http-port", "8001"}, "must differ"}}) {
        Program bad("tessaly", args);
        ASSERT_TRUE(bad.WaitForExit());
        EXPECT_EQ(bad.ExitCode(), 2);
        EXPECT_NE(bad.Errors().find(complaint), std::string::npos) << bad.Errors();
    }
    std::uint16_t busy_port = 0;
    const int busy = csock_test::PeerListen(&busy_port);
    program_test::Tessaly server({"--audio-in", "none", "--http-port", std::to_string(busy_port)});
    ASSERT_TRUE(server.WaitForPorts()) << server.Errors();
    EXPECT_EQ(server.GetPorts().http, 0) << "no web page";
    ASSERT_TRUE(server.WaitForLine("待機します。(127.0.0.1)"));
    ::close(busy);
    server.Send("quit");
    ASSERT_TRUE(server.WaitForExit());
    EXPECT_NE(server.Errors().find("no web page: cannot listen on 127.0.0.1:" + std::to_string(busy_port) +
                                   ": Address already in use"),
              std::string::npos)
        << server.Errors();
    EXPECT_EQ(server.Output().find("web: "), std::string::npos);
}

}  // namespace
