// Quillon's session against a small server on 127.0.0.1: the request cycle, decoding and painting, sound,
// the alarm, closes and resets, notifications with error codes, a failed connect, a server that stops
// answering, reconnecting, repeated errors and the teardown.
#include <chrono>
#include <memory>

#include "receiver/quillon_window.h"
#include "receiver_test_server.h"
#include "receiver_test_util.h"

using receiver::QuillonWindow;
using receiver_test::ThreadServer;

namespace {

constexpr std::u16string_view kNext = u"VideoNext|END";
constexpr std::u16string_view kDanger = u"MSG_DANGER|END";

class QuillonSession : public receiver_test::ReceiverTest {
  protected:
    void SetUp() override {
        ReceiverTest::SetUp();
        WriteInit("127.0.0.1\r\n");
    }
    void TearDown() override {
        window_.reset();
        server_.reset();
        ReceiverTest::TearDown();
    }
    void Start(bool auto_answer) {
        server_ = std::make_unique<ThreadServer>(auto_answer);
        ports_ = {server_->VideoPort(), server_->SoundPort()};
        Load(ports_);
    }
    // The server comes back on the same ports (an old one there goes first).
    void ServerBack() {
        server_.reset();
        server_ = std::make_unique<ThreadServer>(true, ports_.video, ports_.sound);
    }
    void Load(receiver::Ports ports) {
        window_ = std::make_unique<QuillonWindow>(ports);
        window_->Form_Load();
    }
    void ConnectAndWait() {
        ASSERT_TRUE(window_->mnuConnect.UserClick());
        ASSERT_TRUE(WaitFor([&] { return window_->Text1.Text() == "接続しました。"; }));
    }
    int Requests(std::u16string_view text) const { return server_->CountRequests(std::u16string(text)); }
    platform::LRESULT Notify(CSock::SOCKET sock, platform::LPARAM lparam) {
        return window_->Handle()->Send(platform::WM_SOCKET, sock, lparam);
    }

    receiver::Ports ports_;
    std::unique_ptr<ThreadServer> server_;
    std::unique_ptr<QuillonWindow> window_;
};

TEST_F(QuillonSession, OneRequestInFlightAndOnePaintingPerFrame) {
    Start(false);
    ConnectAndWait();
    ASSERT_TRUE(WaitFor([&] { return Requests(kNext) == 1; }));
    EXPECT_FALSE(window_->mnuEnd.Enabled());
    EXPECT_TRUE(window_->Command3.Enabled());
    EXPECT_EQ(window_->mnuConnect.Caption(), "切断");
    Settle(200);
    EXPECT_EQ(Requests(kNext), 1) << "no second request while the first is unanswered";

    server_->SendFrame();
    ASSERT_TRUE(WaitFor([&] { return window_->Stats().Frames() == 1 && Requests(kNext) == 2; }));
    Settle(200);
    EXPECT_EQ(Requests(kNext), 2);
    EXPECT_EQ(window_->Stats().Frames(), 1);

    server_->SetAutoAnswer(true);
    server_->SendFrame();
    ASSERT_TRUE(WaitFor([&] { return window_->Stats().Frames() >= 20; }));
    server_->SetAutoAnswer(false);
    Settle(300);
    EXPECT_EQ(window_->Stats().Frames(), server_->FramesSent()) << "each frame painted once";
    EXPECT_EQ(Requests(kNext), server_->FramesSent() + 1) << "exactly one request stays outstanding";
    EXPECT_GT(window_->Stats().StampedFrames(), 0) << "the test picture's time stamp was read back";
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(QuillonSession, AnExtraWriteNotificationSendsOneMoreRequest) {
    Start(false);
    ConnectAndWait();
    ASSERT_TRUE(WaitFor([&] { return Requests(kNext) == 1; }));
    Notify(window_->VideoClient.MySock, winsock::FD_WRITE);
    ASSERT_TRUE(WaitFor([&] { return Requests(kNext) == 2; }));
    Settle(200);
    EXPECT_EQ(Requests(kNext), 2);
}

TEST_F(QuillonSession, BadFramesCostOneFrameAndShowOneBoxAtATime) {
    Start(false);
    ConnectAndWait();
    ASSERT_TRUE(WaitFor([&] { return Requests(kNext) == 1; }));
    const std::vector<std::uint8_t> bad = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0xFF, 0xFF};
    // While the box is open the loop runs on, as under a modal dialog, and the next bad frame comes.
    on_box_ = [&](const std::string&) {
        server_->SendVideoBytes(bad);
        WaitFor([&] { return window_->Errors().Suppressed() >= 1; }, 2000);
    };
    server_->SendVideoBytes(bad);
    ASSERT_TRUE(WaitFor([&] { return window_->Errors().Suppressed() >= 1; }));
    on_box_ = nullptr;
    EXPECT_EQ(boxes_.size(), 1u);
    EXPECT_NE(boxes_[0].find("実行時エラー '9'"), std::string::npos) << boxes_[0];
    // The next request left before each decode, so the stream goes on.
    ASSERT_TRUE(WaitFor([&] { return Requests(kNext) == 3; }));
    server_->SendFrame();
    ASSERT_TRUE(WaitFor([&] { return window_->Stats().Frames() == 1; }));
}

TEST_F(QuillonSession, RepeatedBadFramesShowOnceAndThenOnceASecondWithTheirCount) {
    Start(true);
    server_->SetAnswerBytes({0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0xFF, 0xFF});
    const auto start = std::chrono::steady_clock::now();
    ConnectAndWait();
    ASSERT_TRUE(WaitFor([&] { return window_->Errors().Suppressed() >= 50 && boxes_.size() >= 2; }));
    server_->SetAutoAnswer(false);
    Settle(1200);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LE(boxes_.size(), 2 + elapsed.count()) << "at most one a second after the first";
    long counted = 0;
    for (std::size_t k = 1; k < boxes_.size(); ++k) {
        ASSERT_EQ(boxes_[k].find(boxes_[0] + "(さらに "), 0u) << boxes_[k];
        counted += std::stol(boxes_[k].substr(boxes_[0].size() + std::string("(さらに ").size()));
    }
    EXPECT_EQ(counted + 1, Requests(kNext) - 1) << "every bad frame is in a count";
}

TEST_F(QuillonSession, AFrameWithoutPictureIsNoErrorAndTheNextRequestWaits) {
    // A server that has compressed nothing yet answers with the end marker alone.
    Start(false);
    ConnectAndWait();
    ASSERT_TRUE(WaitFor([&] { return Requests(kNext) == 1; }));
    for (int k = 2; k <= 4; ++k) {
        server_->SendVideoBytes({0xFF, 0xFF});
        ASSERT_TRUE(WaitFor([&] { return window_->Keeper().Pausing(); }));
        EXPECT_EQ(Requests(kNext), k - 1) << "no request at once";
        ASSERT_TRUE(WaitFor([&] { return Requests(kNext) == k; }));
    }
    EXPECT_EQ(window_->Stats().Frames(), 0);
    EXPECT_TRUE(boxes_.empty());
    server_->SendFrame();
    ASSERT_TRUE(WaitFor([&] { return window_->Stats().Frames() == 1; }));
}

TEST_F(QuillonSession, SoundBlocksPrimeThenPlayAndAreDroppedWithoutAnOutput) {
    Start(true);
    ConnectAndWait();
    ASSERT_TRUE(WaitFor([&] { return window_->fWaveOut == platform::kTrue; }));
    EXPECT_EQ(window_->Wave.fLOGIN, platform::kTrue);
    server_->SendSoundBlocks(6);
    ASSERT_TRUE(WaitFor([&] { return window_->Wave.fPlay == platform::kTrue; }));
    server_->SendSoundBlocks(2);
    ASSERT_TRUE(WaitFor([&] { return window_->Wave.OutInFlight() > 0; }));

    // Without an output device the blocks are read and dropped.
    window_.reset();
    server_.reset();
    ASSERT_TRUE(platform::SetWaveOutBackend("none"));
    Start(true);
    ConnectAndWait();
    server_->SendSoundBlocks(6);
    Settle(400);
    EXPECT_EQ(window_->fWaveOut, platform::kFalse);
    EXPECT_EQ(window_->Wave.fPlay, platform::kFalse);
    EXPECT_EQ(window_->Wave.QueueCount, 0);
}

TEST_F(QuillonSession, TheAlarmGoesOutAtTheNextReadNotification) {
    Start(false);
    ConnectAndWait();
    ASSERT_TRUE(WaitFor([&] { return Requests(kNext) == 1; }));
    ASSERT_TRUE(window_->mnu_Danger.UserClick());
    EXPECT_FALSE(window_->mnu_Danger.Enabled());
    Settle(200);
    EXPECT_EQ(Requests(kDanger), 0) << "nothing arrived, so nothing is sent";
    EXPECT_FALSE(window_->mnu_Danger.Enabled());
    server_->SendSoundBlocks(1);
    ASSERT_TRUE(WaitFor([&] { return Requests(kDanger) == 1; }));
    EXPECT_TRUE(window_->mnu_Danger.Enabled());
    EXPECT_EQ(window_->fDanger, platform::kFalse);
}

// A close and a reset are the same to the receiver: the sound connection's alone leaves the pictures
// coming, the video connection's ends the session.
class QuillonEnds : public QuillonSession, public ::testing::WithParamInterface<bool> {
  protected:
    bool Reset() const { return GetParam(); }
};

TEST_P(QuillonEnds, TheSoundConnectionAloneThenTheSession) {
    Start(true);
    ConnectAndWait();
    ASSERT_TRUE(WaitFor([&] { return window_->Stats().Frames() >= 3; }));

    // Other events carrying an error code in their high word change nothing.
    Notify(window_->WaveClient.MySock, winsock::FD_READ | (10053 << 16));
    Notify(window_->VideoClient.MySock, winsock::FD_WRITE | (10053 << 16));
    Notify(12345, winsock::FD_CONNECT | (10061 << 16));  // a socket that is not ours
    Notify(12345, winsock::FD_CLOSE);
    EXPECT_EQ(window_->Text1.Text(), "接続しました。");

    Reset() ? server_->ResetSound() : server_->CloseSound();
    ASSERT_TRUE(WaitFor([&] { return window_->WaveClient.MySock == 0; }));
    EXPECT_EQ(window_->Text1.Text(), "切断しました。");
    EXPECT_FALSE(window_->Command3.Enabled());
    EXPECT_EQ(window_->Wave.fLOGIN, platform::kFalse);
    EXPECT_TRUE(window_->mnuEnd.Enabled());
    EXPECT_EQ(window_->mnuConnect.Caption(), "切断");
    const long frames = window_->Stats().Frames();
    ASSERT_TRUE(WaitFor([&] { return window_->Stats().Frames() >= frames + 5; })) << "video goes on";

    Reset() ? server_->ResetVideo() : server_->CloseVideo();
    ASSERT_TRUE(WaitFor([&] { return window_->VideoClient.MySock == 0; }));
    EXPECT_EQ(window_->Text1.Text(), "切断しました。");
    EXPECT_EQ(window_->mnuConnect.Caption(), "接続");
    EXPECT_FALSE(window_->Keeper().Watching());
    // One click connects again.
    ServerBack();
    ConnectAndWait();
    ASSERT_TRUE(WaitFor([&] { return window_->Stats().Frames() >= frames + 8; }));
}

INSTANTIATE_TEST_SUITE_P(CloseOrReset, QuillonEnds, ::testing::Bool());

TEST_F(QuillonSession, ASilentServerIsLostAndReconnectingFindsItWhenItIsBack) {
    std::int64_t now = 1'000'000'000;
    Start(false);
    window_->SetReconnect(true);
    window_->Keeper().SetClock([&now] { return now; });
    ConnectAndWait();
    ASSERT_TRUE(WaitFor([&] { return Requests(kNext) == 1 && window_->fWaveOut == platform::kTrue; }));

    // A sound block keeps the server alive although the request stays unanswered.
    now += 4'500'000;
    server_->SendSoundBlocks(1);
    ASSERT_TRUE(WaitFor([&] { return window_->Wave.StartCount == 1; })) << "the block was taken";
    now += 4'500'000;
    window_->Keeper().WatchdogTimer().Fire();
    EXPECT_EQ(window_->Text1.Text(), "接続しました。");
    now += 600'000;
    window_->Keeper().WatchdogTimer().Fire();
    EXPECT_EQ(window_->Text1.Text(), "切断しました。");
    EXPECT_EQ(window_->VideoClient.MySock, 0u);
    EXPECT_EQ(window_->WaveClient.MySock, 0u);
    EXPECT_EQ(window_->mnuConnect.Caption(), "切断") << "the user may stop the attempts";
    EXPECT_EQ(window_->Keeper().RetryTimer().Interval(), 3000);

    // The server is gone: the attempt fails and the next one is due. Then it is back.
    server_.reset();
    window_->Keeper().RetryTimer().Fire();
    EXPECT_EQ(window_->Text1.Text(), "再接続中 (1 回目)");
    ASSERT_TRUE(WaitFor([&] { return window_->Text1.Text() == receiver::ConnectFailedText(10061); }));
    ASSERT_TRUE(window_->Keeper().Retrying());
    ServerBack();
    window_->Keeper().RetryTimer().Fire();
    EXPECT_EQ(window_->Text1.Text(), "再接続中 (2 回目)");
    ASSERT_TRUE(WaitFor([&] { return window_->Stats().Frames() >= 2; }));

    // The user's own 切断 ends it, attempts and all.
    ASSERT_TRUE(window_->mnuConnect.UserClick());
    EXPECT_EQ(window_->Text1.Text(), "切断しました。");
    EXPECT_FALSE(window_->Keeper().Retrying());
    EXPECT_FALSE(window_->Keeper().Watching());
}

TEST_F(QuillonSession, TheTeardownRunsTwiceAndTheExitItemFollowsTheRun) {
    Start(true);
    ConnectAndWait();
    ASSERT_TRUE(window_->mnuConnect.UserClick());
    EXPECT_EQ(window_->Text1.Text(), "切断しました。");
    EXPECT_EQ(hMainWnd, nullptr);
    EXPECT_EQ(window_->VideoClient.MySock, 0u);
    EXPECT_EQ(window_->WaveClient.MySock, 0u);
    EXPECT_TRUE(window_->mnuEnd.Enabled());
    EXPECT_FALSE(window_->Command3.Enabled());
    EXPECT_EQ(window_->Wave.m_hWaveOut, 0u) << "the sound output is stopped";
    ASSERT_TRUE(window_->mnuConnect.UserClick());
    EXPECT_EQ(window_->mnuConnect.Caption(), "切断");
    EXPECT_EQ(window_->fCon, platform::kTrue);

    // A connection was started in this run: Exit unloads without a second teardown.
    ASSERT_TRUE(window_->mnuEnd.UserClick());
    EXPECT_TRUE(window_->GetForm().Unloaded());
}

TEST_F(QuillonSession, AFailedConnectIsShownAndTheUserCanTryAgain) {
    const csock_test::ReservedPort video_port;  // nothing listens until the test server below does
    const csock_test::ReservedPort sound_port;
    const std::uint16_t video = video_port.Port();
    const std::uint16_t sound = sound_port.Port();
    Load({video, sound});
    ASSERT_TRUE(window_->mnuConnect.UserClick());
    ASSERT_TRUE(WaitFor([&] { return window_->mnuConnect.Caption() == "接続"; }));
    EXPECT_NE(window_->Text1.Text().find("10061"), std::string::npos) << window_->Text1.Text();
    EXPECT_EQ(window_->VideoClient.MySock, 0u);
    EXPECT_EQ(window_->WaveClient.MySock, 0u);
    EXPECT_TRUE(window_->mnuEnd.Enabled());
    EXPECT_FALSE(window_->Command3.Enabled());

    server_ = std::make_unique<ThreadServer>(true, video, sound);
    ConnectAndWait();
    ASSERT_TRUE(WaitFor([&] { return window_->Stats().Frames() >= 2; }));
}

}  // namespace
