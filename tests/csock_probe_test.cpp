// streamtool probe against a small server built here with CSock, on 127.0.0.1 and free ports: a server that
// answers, one that never answers, one that breaks the framing, and none at all.
#include <QRegularExpression>
#include <QStringList>
#include <array>
#include <filesystem>
#include <fstream>

#include "csock_test_util.h"
#include "platform/window/timer.h"
#include "program_process.h"

using namespace csock_test;

namespace {

enum class Behaviour { kAnswers, kSilent, kNoMarker };

// The server's side of the exchange as the real server runs it: accept on both ports, answer each
// "VideoNext" with the frame, push a sound block every 100 ms, close what the peer closes.
class TestServer {
  public:
    TestServer(Behaviour behaviour, std::size_t frame_bytes)
        : behaviour_(behaviour), frame_(frame_bytes + 2) {
        for (std::size_t i = 0; i < frame_bytes; ++i) frame_[i] = static_cast<std::uint8_t>(i % 251);
        sound_timer_.SetHandler([this] {
            if (wave_ != 0) sock_.SendWaveDataSock(wave_, block_);
        });
    }
    void Listen() {
        sock_.SetBindAddress("127.0.0.1");
        sock_.SetAnyPortListening(true);  // ports of the system's choosing, kept by the listening sockets
        sock_.SetListenSock(std::array<std::uint16_t, 2>{0, 0}, listening_);
        ASSERT_EQ(sock_.fServer, platform::kTrue);
    }
    void OnSocket(CSock::SOCKET s, std::int32_t lp) {
        if (lp == winsock::FD_ACCEPT) Accept(s);
        if (lp == winsock::FD_READ && s == video_) Answer();
        if (lp == winsock::FD_CLOSE && (s == video_ || s == wave_)) {
            winsock::closesocket(s);
            (s == video_ ? video_ : wave_) = 0;
        }
    }
    std::uint16_t VideoPort() const { return CSock::ListenPort(listening_[0]); }
    std::uint16_t SoundPort() const { return CSock::ListenPort(listening_[1]); }
    const std::vector<std::u16string>& Requests() const { return requests_; }
    std::vector<std::uint8_t> Payload() const { return {frame_.begin(), frame_.end() - 2}; }

  private:
    void Accept(CSock::SOCKET listener) {
        CSock::SOCKET s = winsock::accept(listener, nullptr, nullptr);
        winsock::WSAAsyncSelect(s, hMainWnd, platform::WM_SOCKET, winsock::FD_READ | winsock::FD_CLOSE);
        if (listener == listening_[0]) video_ = s;
        if (listener != listening_[0]) {
            wave_ = s;
            sound_timer_.SetInterval(100);
        }
    }
    void Answer() {
        std::u16string text;
        sock_.RecvStartDataSock(video_, text);
        if (!text.empty()) requests_.push_back(text);
        if (text.find(u"VideoNext") == std::u16string::npos || behaviour_ == Behaviour::kSilent) return;
        if (behaviour_ == Behaviour::kNoMarker) {
            // 70,400 bytes in sound-block pieces: more than any frame, and no end marker anywhere.
            const std::vector<std::uint8_t> piece(1600, 0x42);
            for (int i = 0; i < 44; ++i) sock_.SendWaveDataSock(video_, piece);
            return;
        }
        sock_.SendDCTVideoDataSock(video_, frame_, static_cast<std::int32_t>(frame_.size() - 2), 1);
    }

    Behaviour behaviour_;
    CSock sock_{CSock::kServerMsgBufBound};
    std::array<CSock::SOCKET, 2> listening_{};
    CSock::SOCKET video_ = 0;
    CSock::SOCKET wave_ = 0;
    std::vector<std::uint8_t> frame_;
    std::vector<std::uint8_t> block_ = std::vector<std::uint8_t>(1600, 0x80);
    std::vector<std::u16string> requests_;
    platform::Timer sound_timer_;
};

struct ProbeRun {
    int status = -1;
    std::string out;
    std::string err;
};

class ProbeTest : public LoopbackTest {
  protected:
    void Serve(TestServer& server) {
        server.Listen();
        on_socket_ = [&server](CSock::SOCKET s, std::int32_t lp) { server.OnSocket(s, lp); };
    }
    // Runs the probe while this thread's loop serves; it must end by itself well within the limit.
    ProbeRun Probe(const QStringList& args) {
        std::vector<std::string> list = {"probe"};
        for (const QString& a : args) list.push_back(a.toStdString());
        program_test::Program p("streamtool", list);
        EXPECT_TRUE(p.Started());
        const bool ended = platform::RunUntil([&] { return !p.Running(); }, 15000);
        EXPECT_TRUE(ended) << "the probe did not end by itself";
        p.WaitForExit(ended ? 2000 : 0);
        return {p.ExitCode(), p.Output(), p.Errors()};
    }
    static QStringList Ports(const TestServer& s) {
        return {"--video-port", QString::number(s.VideoPort()), "--sound-port",
                QString::number(s.SoundPort())};
    }
    static QRegularExpressionMatch Summary(const std::string& out) {
        static const QRegularExpression line(
            "frames=(\\d+) sound_blocks=(\\d+) mean_frame_bytes=(\\d+) fps=([0-9.]+)\\n$");
        return line.match(QString::fromStdString(out));
    }
};

TEST_F(ProbeTest, CountsFramesAndSoundBlocksSavesPayloadsAndSendsTheAlarmOnce) {
    TestServer server(Behaviour::kAnswers, 4321);
    Serve(server);
    const auto dir = std::filesystem::temp_directory_path() / ("probe_" + std::to_string(::getpid()));
    ProbeRun run = Probe(Ports(server) + QStringList{"--seconds", "1.5", "--alarm", "--save-dir",
                                                     QString::fromStdString(dir.string()), "127.0.0.1"});
    EXPECT_EQ(run.status, 0) << run.err;
    QRegularExpressionMatch m = Summary(run.out);
    ASSERT_TRUE(m.hasMatch()) << run.out;
    const long frames = m.captured(1).toLong();
    EXPECT_GT(frames, 1);
    EXPECT_GT(m.captured(2).toLong(), 0) << "sound blocks arrive every 100 ms";
    EXPECT_EQ(m.captured(3).toLong(), 4321);
    EXPECT_NE(run.out.find("1 s: frames="), std::string::npos);

    EXPECT_TRUE(std::filesystem::exists(dir / "frame_000001.bin"));
    std::ifstream first(dir / "frame_000001.bin", std::ios::binary);
    std::vector<std::uint8_t> saved((std::istreambuf_iterator<char>(first)),
                                    std::istreambuf_iterator<char>());
    EXPECT_EQ(saved, server.Payload()) << "the payload without the end marker";
    EXPECT_EQ(static_cast<long>(std::distance(std::filesystem::directory_iterator(dir), {})), frames);
    std::filesystem::remove_all(dir);

    int alarms = 0;
    for (const std::u16string& r : server.Requests()) alarms += r == kDangerRequest;
    EXPECT_EQ(alarms, 1);
}

TEST_F(ProbeTest, StopsAfterTheFramesAskedFor) {
    TestServer server(Behaviour::kAnswers, 1800);
    Serve(server);
    ProbeRun run = Probe(Ports(server) + QStringList{"--frames", "7", "127.0.0.1"});
    EXPECT_EQ(run.status, 0) << run.err;
    QRegularExpressionMatch m = Summary(run.out);
    ASSERT_TRUE(m.hasMatch()) << run.out;
    EXPECT_EQ(m.captured(1).toLong(), 7);
}

TEST_F(ProbeTest, ASilentOrBrokenServerEndsWithAMessageAndStatusOne) {
    TestServer silent(Behaviour::kSilent, 1800);
    Serve(silent);
    ProbeRun run = Probe(Ports(silent) + QStringList{"--seconds", "1", "127.0.0.1"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("no frame arrived"), std::string::npos) << run.err;
    EXPECT_EQ(silent.Requests().size(), 1u) << "one request in flight, no more";

    TestServer broken(Behaviour::kNoMarker, 1800);
    Serve(broken);
    run = Probe(Ports(broken) + QStringList{"--seconds", "10", "127.0.0.1"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("without an end marker"), std::string::npos) << run.err;
}

TEST_F(ProbeTest, NoServerGivesStatusTwoAndBadArgumentsAreRefused) {
    const ReservedPort video;  // nothing listens on either
    const ReservedPort sound;
    ProbeRun run = Probe({"--video-port", QString::number(video.Port()), "--sound-port",
                          QString::number(sound.Port()), "--seconds", "3", "127.0.0.1"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("connection refused"), std::string::npos) << run.err;

    run = Probe({"--video-port", "0", "127.0.0.1"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("bad port"), std::string::npos) << run.err;
    run = Probe({"--seconds", "1"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("no HOST"), std::string::npos) << run.err;
}

}  // namespace
