// The window procedure over loopback: requests, the alarm, notifications it must ignore, sound pairing
// and forwarding, the mended pairing and failure cases, and the order of shutdown.
#include <netinet/in.h>

#include <QTemporaryDir>
#include <filesystem>
#include <stdexcept>

#include "audio/CWAVE.h"
#include "codec/CCODEC.h"
#include "platform/window/paths.h"
#include "server_test_rig.h"

using namespace server_test;

namespace {

class ServerDispatchTest : public ServerTest {
  protected:
    void SetUp() override {
        ServerTest::SetUp();
        Serve();
    }
    void Post(CSock::SOCKET s, std::int32_t lparam) {
        platform::PostMessage(hMainWnd, platform::WM_SOCKET, s, lparam);
        Settle(50);
    }
};

TEST_F(ServerDispatchTest, VideoNextIsFoundAnywhereInTheTextButOnlyInItsOwnCase) {
    const Receiver r = Connect();
    EXPECT_EQ(Ask(r.video, u"xxVideoNext|ENDyy").size(), 2u);
    EXPECT_EQ(server().RecvText, u"xxVideoNext|ENDyy");
    csock_test::WriteAll(r.video, Utf16(u"videonext|END"));
    WaitFor([this] { return server().RecvText == u"videonext|END"; });
    EXPECT_TRUE(ReadFrame(r.video, 200).empty());
    EXPECT_EQ(server().RecvText, u"videonext|END");
    // An alarm and a frame request that arrive in one read: the frame is served and the alarm sounds.
    EXPECT_EQ(Ask(r.video, u"MSG_DANGER|ENDVideoNext|END").size(), 2u);
    EXPECT_EQ(CountSounds("Play danger from 0"), 1);
}

TEST_F(ServerDispatchTest, TheAlarmSoundsOnlyForItsHolderInSecurityMode) {
    const Receiver first = Connect();
    const Receiver second = Connect();
    csock_test::WriteAll(second.video, Utf16(kDangerRequest));
    WaitFor([this] { return server().RecvText == kDangerRequest; });
    Settle(50);
    EXPECT_EQ(CountSounds("Play danger from 0"), 0);
    csock_test::WriteAll(first.video, Utf16(kDangerRequest));
    EXPECT_TRUE(WaitFor([&] { return CountSounds("Play danger from 0") == 1; }));
    sv_->mnUSec_Click();
    EXPECT_FALSE(sv_->mnUSec().Checked());
    server().RecvText.clear();
    csock_test::WriteAll(first.video, Utf16(kDangerRequest));
    WaitFor([this] { return server().RecvText == kDangerRequest; });
    EXPECT_EQ(CountSounds("Play danger from 0"), 1);
    // With the security mode off, new connections chime.
    Connect();
    EXPECT_EQ(CountSounds("Play in from 0"), 1);
    sv_->mnUSec_Click();
    // The receiver in slot 1 hangs (no request for longer than the watchdog's tick) and reconnects into
    // slot 4 while slot 1 waits for the watchdog: the longest-connected receiver that asks (slot 2) holds
    // the right now, and after it leaves the reconnected one does.
    server().Clients[1].LastRequestMs -= tessaly::Server::kAskingWithinMs;
    const Receiver reconnected = Connect();
    ASSERT_EQ(reconnected.slot, 4);
    csock_test::WriteAll(second.video, Utf16(kDangerRequest));
    EXPECT_TRUE(WaitFor([&] { return CountSounds("Play danger from 0") == 2; }));
    sv_->ClientClose(2);
    sv_->ClientClose(3);
    csock_test::WriteAll(reconnected.video, Utf16(kDangerRequest));
    EXPECT_TRUE(WaitFor([&] { return CountSounds("Play danger from 0") == 3; }));
}

TEST_F(ServerDispatchTest, NotificationsWithAnErrorAndOnSoundConnectionsChangeNothing) {
    const Receiver r = Connect();
    const CSock::SOCKET video = server().Clients[r.slot].VideoSock;
    const CSock::SOCKET sound = server().Clients[r.slot].WaveSock;
    Post(server().ListenSock[0], winsock::FD_ACCEPT | (winsock::WSAENOBUFS << 16));
    Post(video, winsock::FD_READ | (winsock::WSAENETDOWN << 16));
    Post(video, winsock::FD_WRITE);
    EXPECT_NE(server().Clients[r.slot].fUse, 0);
    EXPECT_EQ(InUse(), 1);
    // Bytes on the sound connection are never read and never answered.
    csock_test::WriteAll(r.sound, Utf16(kVideoNextRequest));
    Post(sound, winsock::FD_READ);
    EXPECT_TRUE(server().RecvText.empty());
    EXPECT_TRUE(ReadFrame(r.video, 200).empty());
}

TEST_F(ServerDispatchTest, SoundBlocksReachEverySoundConnectionAndOnlyThose) {
    EXPECT_EQ(server().fWaveSend, 0);
    const Receiver a = Connect();
    EXPECT_EQ(server().fWaveSend, platform::kTrue);
    const Receiver b = Connect();
    const Receiver video_only = Connect(false);
    const Bytes block = ReadBlock(a.sound);
    ASSERT_EQ(block.size(), 1600u);
    EXPECT_EQ(ReadBlock(b.sound).size(), 1600u);
    // The tone: compressed samples that swing both ways.
    std::int16_t samples[1600];
    CWAVE().WaveExpand(block, samples);
    EXPECT_LT(*std::min_element(samples, samples + 1600), -1000);
    EXPECT_GT(*std::max_element(samples, samples + 1600), 1000);
    EXPECT_EQ(server().Clients[video_only.slot].WaveSock, 0u);
    EXPECT_EQ(Ask(video_only.video).size(), 2u);
}

// Two receivers that start at the same moment on two machines (127.0.0.2 and 127.0.0.3) connect interleaved:
// each sound connection joins the video connection from its own address, and one from an address with no
// video connection waiting is closed.
TEST_F(ServerDispatchTest, SoundPairsWithTheOldestUnpairedVideoConnectionFromItsAddress) {
    constexpr std::uint32_t kA = 0x7F000002;
    constexpr std::uint32_t kB = 0x7F000003;
    ConnectVideo(kA);
    const int video_b = ConnectVideo(kB);
    const int sound_a = ConnectSound(kA);
    const int sound_b = ConnectSound(kB);
    EXPECT_EQ(server().Clients[1].Addr.sin_addr.s_addr, htonl(kA));
    EXPECT_NE(server().Clients[1].WaveSock, 0u);
    EXPECT_NE(server().Clients[2].WaveSock, 0u);
    EXPECT_TRUE(ClosedByServer(ConnectSound(kA))) << "A's video connection has its sound already";
    EXPECT_TRUE(ClosedByServer(ConnectSound(0x7F000004))) << "no video connection from there";
    // A leaves: B keeps its pictures and its sound.
    ResetAndForget(sound_a);
    ASSERT_TRUE(WaitFor([this] { return server().Clients[1].fUse == 0; }));
    EXPECT_EQ(ReadBlock(sound_b).size(), 1600u);
    EXPECT_EQ(Ask(video_b).size(), 2u);
    // Among one address the sound connections pair in the order of the video connections.
    ConnectVideo();
    ConnectVideo();
    ConnectSound();
    ConnectSound();
    EXPECT_NE(server().Clients[1].WaveSock, 0u);
    EXPECT_NE(server().Clients[3].WaveSock, 0u);
}

// A receiver on a slow link: its sound is not read, so it waits undelivered beside the connection. Once more
// than one block of it waits, frames are held (longer than pacing would ever let a request wait); when the
// receiver has read its sound, the held frame follows.
TEST_F(ServerDispatchTest, AFrameWaitsWhileMoreThanOneSoundBlockIsUndelivered) {
    const int video = ConnectVideo();
    const int sound = ConnectSound(0, 2048);
    const CSock::SOCKET wave = server().Clients[1].WaveSock;
    const std::array<std::uint8_t, 1600> block{};
    for (int i = 0; i < 40 && winsock::UndeliveredOutputBytes(wave) <= 1600; ++i)
        server().sounds.Hand({block, 0});
    ASSERT_GT(winsock::UndeliveredOutputBytes(wave), 1600);
    ASSERT_TRUE(server().Capture.Driver().DeliverNextFrame());
    csock_test::WriteAll(video, Utf16(kVideoNextRequest));
    EXPECT_TRUE(ReadFrame(video, 1000).empty());
    EXPECT_TRUE(server().FrameHeld(1));
    sv_->Timer1().Fire();
    sv_->Timer1().Fire();
    EXPECT_NE(server().Clients[1].fUse, 0) << "a held frame is no silent receiver for the watchdog";
    Bytes frame;
    platform::RunUntil(
        [&] {
            std::uint8_t buf[4096];
            while (::recv(sound, buf, sizeof buf, MSG_DONTWAIT) > 0) {
            }
            const ssize_t n = ::recv(video, buf, sizeof buf, MSG_DONTWAIT);
            if (n > 0) frame.insert(frame.end(), buf, buf + n);
            return frame.size() > 2 && frame.back() == 0xFF;
        },
        3000);
    EXPECT_GT(frame.size(), 2u);
    EXPECT_FALSE(server().FrameHeld(1));
}

TEST_F(ServerDispatchTest, ASoundConnectionForAFreedSlotIsClosedAndTheSlotGetsSoundLater) {
    const int video = ConnectVideo();
    ASSERT_EQ(server().LastSlot, 1);
    ::close(video);
    peers_.erase(std::find(peers_.begin(), peers_.end(), video));
    ASSERT_TRUE(WaitFor([this] { return server().Clients[1].fUse == 0; }));
    const int late_sound = ConnectSound();
    EXPECT_TRUE(ClosedByServer(late_sound));
    EXPECT_EQ(server().Clients[1].WaveSock, 0u);
    const Receiver next = Connect();
    EXPECT_EQ(next.slot, 1);
    EXPECT_NE(server().Clients[1].WaveSock, 0u);
    EXPECT_EQ(ReadBlock(next.sound).size(), 1600u);
}

TEST_F(ServerDispatchTest, ACloseNotificationForASocketHeldByAFreeSlotClosesIt) {
    const Receiver r = Connect();
    const CSock::SOCKET sound = server().Clients[r.slot].WaveSock;
    // The slot was freed without its sound connection (as after shutdown's closing pass would leave it).
    server().Clients[r.slot].fUse = 0;
    ::close(r.sound);
    peers_.erase(std::find(peers_.begin(), peers_.end(), r.sound));
    EXPECT_TRUE(WaitFor([&] { return server().Clients[r.slot].WaveSock == 0; }));
    EXPECT_NE(sound, 0u);
}

TEST_F(ServerDispatchTest, ResetsOnEitherConnectionFreeTheSlotsAtOnceAndTheOthersGoOn) {
    sv_->Timer1().SetInterval(0);  // no watchdog: only the handling of the resets can free the slots
    std::vector<Receiver> crashed;
    for (int i = 0; i < 9; ++i) crashed.push_back(Connect());
    const Receiver alive = Connect();
    std::vector<int> open_ends;  // each crashed receiver resets one connection and leaves the other open
    for (std::size_t i = 0; i < crashed.size(); ++i) {
        const bool video_resets = i % 2 == 0;
        ResetAndForget(video_resets ? crashed[i].video : crashed[i].sound);
        open_ends.push_back(video_resets ? crashed[i].sound : crashed[i].video);
    }
    EXPECT_TRUE(WaitFor([this] { return InUse() == 1; }));
    for (int fd : open_ends) EXPECT_TRUE(ClosedByServer(fd));
    EXPECT_EQ(Connect().slot, 1) << "a newcomer is placed at once";
    EXPECT_NE(server().Clients[alive.slot].fUse, 0);
    EXPECT_EQ(ReadBlock(alive.sound).size(), 1600u);
    EXPECT_EQ(Ask(alive.video).size(), 2u);
}

TEST_F(ServerDispatchTest, AFailedFrameSendFreesTheSlotAtOnce) {
    const Receiver dead = Connect();
    ASSERT_TRUE(server().Capture.Driver().DeliverNextFrame());  // a picture it has not had: sent at once
    ResetAndForget(dead.video);
    // No message is let through: the slot is freed by the failing send itself, not by a later notification.
    server().HandleRequest(kVideoNextRequest, dead.slot);
    EXPECT_EQ(server().Clients[dead.slot].fUse, 0);
    EXPECT_EQ(server().Clients[dead.slot].VideoSock, 0u);
    EXPECT_EQ(server().Clients[dead.slot].WaveSock, 0u);
}

TEST_F(ServerDispatchTest, TheLastReceiverLeavingStopsSoundForwarding) {
    const Receiver r = Connect();
    ::close(r.video);
    ::close(r.sound);
    peers_.clear();
    EXPECT_TRUE(WaitFor([this] { return server().fWaveSend == 0; }));
    EXPECT_EQ(InUse(), 0);
    // The next receiver starts the sound again.
    const Receiver next = Connect();
    EXPECT_EQ(server().fWaveSend, platform::kTrue);
    EXPECT_EQ(ReadBlock(next.sound).size(), 1600u);
}

TEST_F(ServerDispatchTest, ShutdownClosesEverythingAndRemovesTheHook) {
    const Receiver r = Connect();
    sv_->mnuEND().UserClick();
    EXPECT_TRUE(sv_->form().Unloaded());
    EXPECT_EQ(sv_->Timer1().Interval(), 0);
    EXPECT_EQ(server().fWaveSend, 0);
    EXPECT_EQ(server().Capture.fCapture, 0);
    EXPECT_EQ(server().Sock.fWsa, 0);
    EXPECT_EQ(server().Clients[r.slot].VideoSock, 0u);
    EXPECT_EQ(server().Clients[r.slot].WaveSock, 0u);
    EXPECT_NE(server().Clients[r.slot].fUse, 0);  // closed, not freed
    EXPECT_EQ(hMainWnd, nullptr);
    EXPECT_EQ(sounds_.back(), "close all");
    EXPECT_TRUE(ClosedByServer(r.video));
    EXPECT_TRUE(ClosedByServer(r.sound));
}

TEST_F(ServerDispatchTest, TheCloseBoxAsksWhileReceiversAreConnectedAndRunsTheSameShutdown) {
    const Receiver r = Connect();
    answer_ = platform::MsgBoxResult::kCancel;  // いいえ: the server goes on
    EXPECT_FALSE(sv_->form().RequestClose(platform::UnloadMode::kCloseBox));
    EXPECT_EQ(boxes_, std::vector<std::string>{"受信機が 1 台接続しています。終了しますか？"});
    EXPECT_FALSE(sv_->fEnd());
    EXPECT_EQ(Ask(r.video).size(), 2u);
    answer_ = platform::MsgBoxResult::kOk;  // はい
    EXPECT_TRUE(sv_->form().RequestClose(platform::UnloadMode::kCloseBox));
    EXPECT_TRUE(sv_->fEnd());
    EXPECT_EQ(sv_->Timer1().Interval(), 0);
    EXPECT_EQ(server().Sock.fWsa, 0);
    EXPECT_EQ(hMainWnd, nullptr);
    EXPECT_EQ(CountSounds("close all"), 1);
    EXPECT_TRUE(ClosedByServer(r.video));
}

// Without "サーバー": the start-up and the end without any socket.
class ServerLifecycleTest : public ServerTest {};

TEST_F(ServerLifecycleTest, EndBeforeServingStopsSoundAndCaptureAndRemovesTheHook) {
    EXPECT_TRUE(sv_->form().Topmost());
    EXPECT_EQ(sv_->Timer1().Interval(), 2000);
    EXPECT_TRUE(sv_->mnUSec().Checked());
    EXPECT_EQ(server().Codec.敷居, 10);
    EXPECT_EQ(server().Capture.fCapture, platform::kTrue);
    EXPECT_EQ(server().Capture.Width, 320);
    EXPECT_EQ(server().Capture.X, 20);
    sv_->mnuEND_Click();
    EXPECT_EQ(server().Sock.fWsa, 0);
    EXPECT_EQ(server().Capture.fCapture, 0);
    EXPECT_FALSE(server().Capture.Driver().Running());
    EXPECT_EQ(hMainWnd, nullptr);
    EXPECT_EQ(sounds_.back(), "close all");
    // A frame that still arrives does nothing.
    std::uint8_t picture[230400] = {};
    server().FrameCallback({picture, sizeof picture, 0, 1});
    EXPECT_EQ(server().PressSize(), 0);
}

TEST_F(ServerLifecycleTest, ASecondActivationOnlyKeepsTheWindowOnTop) {
    const auto commands = sounds_;
    sv_->form().SetTopmost(false);
    sv_->mnUSec_Click();
    sv_->form().Activate();
    EXPECT_TRUE(sv_->form().Topmost());
    EXPECT_EQ(sounds_, commands);
    EXPECT_FALSE(sv_->mnUSec().Checked());
    const std::vector<std::string> opened = {"Open stream.wav alias in", "Open danger.wav alias danger"};
    EXPECT_EQ(commands, opened);
}

TEST_F(ServerLifecycleTest, ServerIsChosenOnce) {
    Serve();
    EXPECT_FALSE(sv_->mnuServer().Enabled());
    EXPECT_FALSE(sv_->mnuServer().UserClick());
    EXPECT_EQ(sv_->Text1().Text(), "待機します。(127.0.0.1)");
}

// A program folder with the chime and without the alarm, and a video port that another program holds.
class ServerStatusTest : public ServerTest {
  protected:
    void Configure(tessaly::ServerSettings& settings) override {
        previous_folder_ = platform::ProgramFolder();
        std::filesystem::copy_file(STREAM_BIN_DIR "/stream.wav",
                                   folder_.filePath("stream.wav").toStdString());
        platform::SetProgramFolder(folder_.path().toStdString());
        busy_ = csock_test::PeerListen(&settings.video_port);
    }
    void TearDown() override {
        ServerTest::TearDown();
        platform::SetProgramFolder(previous_folder_);
        if (busy_ >= 0) ::close(busy_);
    }
    QTemporaryDir folder_;
    std::string previous_folder_;
    int busy_ = -1;
};

TEST_F(ServerStatusTest, ASilentAlarmIsToldOnceAndAFailedBindStaysOnScreen) {
    EXPECT_EQ(sv_->Text1().Text(), "danger.wav を開けず、警報は鳴りません。");
    sv_->mnuServer_Click();
    EXPECT_EQ(boxes_, std::vector<std::string>{"BINDできません。"});
    EXPECT_EQ(sv_->Text1().Text(), "BINDできません。(127.0.0.1)");
    EXPECT_TRUE(sv_->mnuServer().Enabled()) << "to be chosen again once the port is free";
    ::close(busy_);
    busy_ = -1;
    sv_->mnuServer_Click();
    EXPECT_EQ(sv_->Text1().Text(), "待機します。(127.0.0.1) danger.wav を開けず、警報は鳴りません。");
    EXPECT_FALSE(sv_->mnuServer().Enabled());
}

}  // namespace

namespace {

TEST_F(ServerDispatchTest, AFailureInAHandlerIsReportedOnceAndRepeatsAreCounted) {
    server().SetSoundCommandObserver([](std::string_view command) {
        if (command == "Play in from 0") throw std::runtime_error("the chime failed");
    });
    sv_->mnUSec_Click();  // security mode off: each new connection chimes
    ConnectVideo();
    ASSERT_TRUE(WaitFor([&] { return boxes_.size() == 1; })) << boxes_.size();
    EXPECT_EQ(boxes_[0], "the chime failed");
    ConnectVideo();  // the same failure within the second is counted, not shown again
    Settle(50);
    EXPECT_EQ(boxes_.size(), 1u);
    // The server went on: the next connection is placed and served.
    server().SetSoundCommandObserver({});
    const Receiver r = Connect();
    EXPECT_EQ(Ask(r.video, u"VideoNext|END").size(), 2u);
}

}  // namespace
