// The window procedure over loopback: requests, the alarm, notifications it must ignore, sound pairing
// and forwarding, the mended pairing and failure cases, and the order of shutdown.
#include <netinet/in.h>

#include <stdexcept>

#include "audio/CWAVE.h"
#include "codec/CCODEC.h"
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

TEST_F(ServerDispatchTest, TheAlarmSoundsOnlyForSlotOneInSecurityMode) {
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

TEST_F(ServerDispatchTest, ASecondSoundConnectionForTheSameSlotIsClosedAndLaterOnesStillPair) {
    const int video1 = ConnectVideo();
    const int video2 = ConnectVideo();
    const int sound_a = ConnectSound();  // joins slot 2, the latest filled
    const int sound_b = ConnectSound();  // slot 2 has sound already
    EXPECT_NE(server().Clients[2].WaveSock, 0u);
    EXPECT_EQ(server().Clients[1].WaveSock, 0u);
    EXPECT_TRUE(ClosedByServer(sound_b));
    const Receiver third = Connect();
    EXPECT_EQ(third.slot, 3);
    EXPECT_NE(server().Clients[3].WaveSock, 0u);
    EXPECT_EQ(ReadBlock(third.sound).size(), 1600u);
    (void)video1;
    (void)video2;
    (void)sound_a;
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

TEST_F(ServerDispatchTest, TheCloseBoxRunsTheSameShutdown) {
    const Receiver r = Connect();
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
