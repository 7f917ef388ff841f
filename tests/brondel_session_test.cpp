// Brondel against two small servers on 127.0.0.1 and 127.0.0.2 (the same ports): timer pacing driven tick
// by tick, the servers' independence (closes, resets, silence, reconnecting), the selected sound, snapshots
// by index, the Exit item and the mends.
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>

#include "receiver/brondel_window.h"
#include "receiver_test_server.h"
#include "receiver_test_util.h"

using receiver::BrondelWindow;
using receiver_test::ThreadServer;

namespace {

const std::u16string kNext = u"VideoNext|END";
const std::u16string kDanger = u"MSG_DANGER|END";

class BrondelSession : public receiver_test::ReceiverTest {
  protected:
    void TearDown() override {
        window_.reset();
        servers_[0].reset();
        servers_[1].reset();
        ReceiverTest::TearDown();
    }
    // Two servers; the timer stopped (interval 0) so that the tests tick it themselves.
    void Start(bool auto_answer, const std::string& second = "127.0.0.2") {
        servers_[0] = std::make_unique<ThreadServer>(auto_answer);
        ports_ = {servers_[0]->VideoPort(), servers_[0]->SoundPort()};
        if (second == "127.0.0.2") StartSecond(auto_answer);
        WriteInit("127.0.0.1," + second + ",0\r\n");
        window_ = std::make_unique<BrondelWindow>(ports_);
        window_->Form_Load();
    }
    void StartSecond(bool auto_answer) {
        servers_[1] = std::make_unique<ThreadServer>(auto_answer, ports_.video, ports_.sound, "127.0.0.2");
    }
    // Connects server i; its status reads 接続中… until something arrives. answered: its server answers
    // the first request, and the wait is for 接続しました。; otherwise for its connections and that request.
    void Connect(int i, bool answered = true) {
        ASSERT_TRUE(window_->mnuCon[i]->UserClick());
        EXPECT_EQ(window_->Text1[i]->Text(), "接続中…");
        if (answered) {
            ASSERT_TRUE(WaitFor([&] { return window_->Text1[i]->Text() == "接続しました。"; }));
            return;
        }
        ASSERT_TRUE(WaitFor([&] { return servers_[i]->BothAccepted() && Requests(i, kNext) == 1; }));
    }
    int Requests(int i, const std::u16string& text) const { return servers_[i]->CountRequests(text); }
    // Ticks the timer until done() or the count runs out.
    bool TickUntil(const std::function<bool()>& done, int ticks = 200) {
        for (int n = 0; n < ticks && !done(); ++n) {
            window_->Timer1.Fire();
            Settle(10);
        }
        return done();
    }

    receiver::Ports ports_;
    std::unique_ptr<ThreadServer> servers_[2];
    std::unique_ptr<BrondelWindow> window_;
};

TEST_F(BrondelSession, TheWindowAndItsInitFile) {
    Start(true);
    BrondelWindow& w = *window_;
    const platform::Form& form = w.GetForm();
    EXPECT_EQ(form.Caption(), "Brondel Ver1.10");
    EXPECT_EQ(form.ClientWidth(), 662);
    EXPECT_EQ(form.ClientHeight(), 342);
    EXPECT_EQ(form.BackColor(), platform::Rgb(192, 192, 255));
    EXPECT_EQ(w.Picture2.GetPlace(), (platform::Place{0, 0, 665, 265}));
    EXPECT_EQ(w.Text2[1]->GetPlace(), (platform::Place{336, 272, 217, 25}));
    EXPECT_EQ(w.Text2[0]->Font().points, 12);
    EXPECT_EQ(w.Command3[1]->GetPlace(), (platform::Place{560, 272, 57, 25}));
    EXPECT_EQ(w.Option1[0]->Caption(), "音声１");
    EXPECT_EQ(w.Option1[1]->Caption(), "音声２");
    EXPECT_EQ(w.Option1[1]->GetPlace(), (platform::Place{560, 304, 57, 25}));
    EXPECT_EQ(w.mnuCon[0]->Caption(), "接続1");
    EXPECT_EQ(w.mnuCon[1]->Caption(), "接続2");
    EXPECT_EQ(w.mnu_Danger.Caption(), "警告");
    EXPECT_EQ(w.mnuEnd.Caption(), "終了");
    EXPECT_EQ(w.Text2[0]->Text(), "127.0.0.1");
    EXPECT_EQ(w.Text2[1]->Text(), "127.0.0.2");
    EXPECT_EQ(w.Codec(1).敷居, 15);
    EXPECT_TRUE(w.Option1[0]->Value());
    EXPECT_FALSE(w.Command3[0]->Enabled());
    EXPECT_FALSE(w.Timer1.Running()) << "interval 0 stops the timer";
}

TEST_F(BrondelSession, CommandLineItemsStandInForAMissingFile) {
    BrondelWindow w;
    w.SetItemOptions({{"", "127.0.0.9"}, 50});
    w.Form_Load();
    EXPECT_TRUE(boxes_.empty());
    EXPECT_EQ(w.Text2[1]->Text(), "127.0.0.9");
    EXPECT_EQ(w.NamedServer(0), "") << "nothing names server 1";
    EXPECT_EQ(w.Timer1.Interval(), 50);
    EXPECT_TRUE(w.Option1[0]->Value());
    w.Timer1.SetInterval(0);
}

TEST_F(BrondelSession, FewerItemsAndAMissingFile) {
    WriteInit("127.0.0.1\n");
    {
        BrondelWindow w;
        w.Form_Load();
        EXPECT_EQ(w.Text2[1]->Text(), "");
        EXPECT_EQ(w.Timer1.Interval(), 0);
        EXPECT_FALSE(w.Timer1.Running());
        EXPECT_TRUE(boxes_.empty());
    }
    std::filesystem::remove(PathOf("init.txt"));
    BrondelWindow w;
    w.Form_Load();
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_NE(boxes_[0].find("--server1 HOST"), std::string::npos) << "no dialog can ask: " << boxes_[0];
    EXPECT_EQ(w.Timer1.Interval(), 200);
    EXPECT_FALSE(w.Option1[0]->Value());
    EXPECT_FALSE(w.Option1[1]->Value());
    w.Timer1.SetInterval(0);

    // A window asks for both addresses (the second may stay empty) and writes init.txt.
    std::vector<std::string> answers = {"127.0.0.5", ""};
    const platform::InputBoxHandler previous = platform::SetInputBoxHandler(
        [&](const std::string&, const std::string&, const std::string&) -> std::optional<std::string> {
            const std::string answer = answers.front();
            answers.erase(answers.begin());
            return answer;
        });
    BrondelWindow asked;
    asked.Form_Load();
    platform::SetInputBoxHandler(previous);
    asked.Timer1.SetInterval(0);
    std::ifstream in(PathOf("init.txt"), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "127.0.0.5,,200\r\n");
    EXPECT_EQ(asked.NamedServer(0), "127.0.0.5");
    EXPECT_EQ(asked.NamedServer(1), "");
    EXPECT_TRUE(asked.Option1[0]->Value());
    EXPECT_EQ(boxes_.size(), 1u) << "nothing more to report";
}

TEST_F(BrondelSession, TheTimerPacesEachServersRequests) {
    Start(false);
    Connect(0, false);
    Connect(1, false);
    ASSERT_TRUE(WaitFor([&] { return Requests(0, kNext) == 1 && Requests(1, kNext) == 1; }));
    for (int n = 0; n < 3; ++n) window_->Timer1.Fire();
    Settle(200);
    EXPECT_EQ(Requests(0, kNext), 1) << "no request before a frame was shown";
    EXPECT_EQ(Requests(1, kNext), 1);

    servers_[0]->SendFrame();
    ASSERT_TRUE(WaitFor([&] { return window_->FramesOf(0) == 1; }));
    Settle(200);
    EXPECT_EQ(Requests(0, kNext), 1) << "a frame alone sends no request";
    window_->Timer1.Fire();
    window_->Timer1.Fire();
    ASSERT_TRUE(WaitFor([&] { return Requests(0, kNext) == 2; }));
    Settle(200);
    EXPECT_EQ(Requests(0, kNext), 2) << "one request per tick at most";
    EXPECT_EQ(Requests(1, kNext), 1);

    servers_[0]->SetAutoAnswer(true);
    servers_[1]->SetAutoAnswer(true);
    servers_[0]->SendFrame();  // both outstanding requests are answered now
    servers_[1]->SendFrame();
    ASSERT_TRUE(TickUntil([&] { return window_->FramesOf(0) >= 10 && window_->FramesOf(1) >= 10; }));
    EXPECT_LE(Requests(0, kNext), window_->FramesOf(0) + 1);
    EXPECT_LE(Requests(1, kNext), window_->FramesOf(1) + 2);
}

// A close and a reset of server 2's video connection end server 2's session only; one click connects again.
class BrondelEnds : public BrondelSession, public ::testing::WithParamInterface<bool> {};

TEST_P(BrondelEnds, OneServerEndingLeavesTheOtherStreamingAndOneClickReconnects) {
    Start(true);
    Connect(0);
    Connect(1);
    ASSERT_TRUE(TickUntil([&] { return window_->FramesOf(0) >= 2 && window_->FramesOf(1) >= 2; }));

    GetParam() ? servers_[1]->ResetVideo() : servers_[1]->CloseVideo();
    ASSERT_TRUE(WaitFor([&] { return window_->VideoClient(1).MySock == 0; }));
    EXPECT_EQ(window_->WaveClient(1).MySock, 0u) << "the session's sound connection goes with it";
    EXPECT_EQ(window_->Text1[1]->Text(), "切断しました。");
    EXPECT_EQ(window_->mnuCon[1]->Caption(), "接続2");
    EXPECT_EQ(window_->fCon[1], platform::kFalse);
    EXPECT_FALSE(window_->Command3[1]->Enabled());
    EXPECT_FALSE(window_->mnuEnd.Enabled()) << "server 1's video connection is still open";
    // Its half of the picture is old: grey under the time it was shown, and not painted again in colour.
    ASSERT_TRUE(window_->Label1[1]->Visible());
    EXPECT_FALSE(window_->Label1[0]->Visible());
    EXPECT_EQ(window_->Label1[1]->Caption().rfind("最終画像 ", 0), 0u);
    const long before = window_->FramesOf(0);
    ASSERT_TRUE(TickUntil([&] { return window_->FramesOf(0) >= before + 5; }));
    const platform::Color old = window_->Picture2.GetSurface().PixelAt(500, 100);
    EXPECT_TRUE(old.r == old.g && old.g == old.b) << "grey";

    servers_[1].reset();
    StartSecond(true);
    Connect(1);
    const long frames2 = window_->FramesOf(1);
    ASSERT_TRUE(TickUntil([&] { return window_->FramesOf(1) > frames2; }));
    EXPECT_FALSE(window_->Label1[1]->Visible());
}

INSTANTIATE_TEST_SUITE_P(CloseOrReset, BrondelEnds, ::testing::Bool());

TEST_F(BrondelSession, OneServersResetSilenceAndReconnectingLeaveTheOtherAlone) {
    std::int64_t now = 1'000'000'000;
    Start(true);
    window_->SetReconnect(true);
    window_->Keeper(0).SetClock([&now] { return now; });
    Connect(0);
    Connect(1);
    ASSERT_TRUE(TickUntil([&] { return window_->FramesOf(0) >= 2 && window_->FramesOf(1) >= 2; }));

    // The sound connection alone ends server 1's session: the sound could not come back by itself.
    servers_[0]->ResetSound();
    ASSERT_TRUE(WaitFor([&] { return window_->VideoClient(0).MySock == 0; }));
    EXPECT_EQ(window_->WaveClient(0).MySock, 0u);
    EXPECT_EQ(window_->Text1[0]->Text(), "切断しました。");
    ASSERT_TRUE(window_->Keeper(0).Retrying());
    EXPECT_EQ(window_->Text1[1]->Text(), "接続しました。");
    servers_[0].reset();
    servers_[0] = std::make_unique<ThreadServer>(true, ports_.video, ports_.sound);
    window_->Keeper(0).RetryTimer().Fire();
    ASSERT_TRUE(WaitFor([&] { return window_->Text1[0]->Text() == "接続しました。"; }));

    // Server 1 stops answering with a request out, and sends no sound.
    servers_[0]->SetAutoAnswer(false);
    const int asked = Requests(0, kNext);
    ASSERT_TRUE(TickUntil([&] { return Requests(0, kNext) > asked; }));
    now += 5'000'000;
    window_->Keeper(0).WatchdogTimer().Fire();
    EXPECT_EQ(window_->VideoClient(0).MySock, 0u);
    EXPECT_EQ(window_->Text1[0]->Text(), "切断しました。");
    EXPECT_EQ(window_->mnuCon[0]->Caption(), "切断1") << "the user may stop the attempts";
    EXPECT_FALSE(window_->Keeper(1).Retrying());
    EXPECT_EQ(window_->Text1[1]->Text(), "接続しました。");
    const long frames2 = window_->FramesOf(1);
    ASSERT_TRUE(TickUntil([&] { return window_->FramesOf(1) >= frames2 + 3; }));

    servers_[0].reset();
    servers_[0] = std::make_unique<ThreadServer>(true, ports_.video, ports_.sound);
    window_->Keeper(0).RetryTimer().Fire();
    EXPECT_EQ(window_->Text1[0]->Text(), "再接続中 (1 回目)");
    ASSERT_TRUE(WaitFor([&] { return window_->Text1[0]->Text() == "接続しました。"; }));
    const long frames1 = window_->FramesOf(0);
    ASSERT_TRUE(TickUntil([&] { return window_->FramesOf(0) > frames1; }));

    ASSERT_TRUE(window_->mnuCon[0]->UserClick());
    EXPECT_EQ(window_->Text1[0]->Text(), "切断しました。");
    EXPECT_EQ(window_->mnuCon[0]->Caption(), "接続1");
    EXPECT_FALSE(window_->Keeper(0).Watching());
}

TEST_F(BrondelSession, AFailedConnectShowsInItsOwnBoxOnly) {
    Start(true, "127.0.0.3");  // nobody listens there
    Connect(0);
    ASSERT_TRUE(window_->mnuCon[1]->UserClick());
    ASSERT_TRUE(WaitFor([&] { return window_->mnuCon[1]->Caption() == "接続2"; }));
    EXPECT_EQ(window_->Text1[1]->Text(), "拒否されました (10061)");
    EXPECT_EQ(window_->fCon[1], platform::kFalse);
    EXPECT_EQ(window_->Text1[0]->Text(), "接続しました。");
    EXPECT_EQ(window_->mnuCon[0]->Caption(), "切断1");
    ASSERT_TRUE(TickUntil([&] { return window_->FramesOf(0) >= 3; }));
}

TEST_F(BrondelSession, SoundOfTheSelectedServerOnlyAndAFreshPrimingAfterASwitch) {
    Start(true);
    Connect(0);
    Connect(1);
    ASSERT_TRUE(WaitFor([&] { return window_->fWaveOut == platform::kTrue; }));
    servers_[1]->SendSoundBlocks(8);
    Settle(400);
    EXPECT_EQ(window_->Wave.fPlay, platform::kFalse) << "server 2 is not selected";
    EXPECT_EQ(window_->Wave.QueueCount, 0);
    servers_[0]->SendSoundBlocks(6);
    ASSERT_TRUE(WaitFor([&] { return window_->Wave.fPlay == platform::kTrue; }));

    ASSERT_TRUE(window_->Option1[1]->UserChoose());
    EXPECT_EQ(window_->Wave.fPlay, platform::kFalse);
    EXPECT_FALSE(window_->Option1[0]->Value());
    servers_[1]->SendSoundBlocks(6);
    ASSERT_TRUE(WaitFor([&] { return window_->Wave.fPlay == platform::kTrue; }));
}

TEST_F(BrondelSession, BothPicturesMirroredSideBySideAndSnapshotsByIndex) {
    Start(true);
    BrondelWindow& w = *window_;
    w.fShow = {platform::kTrue, platform::kTrue};
    std::fill(w.BmpBuf(0).begin(), w.BmpBuf(0).end(), 0x11);
    for (std::size_t i = 0; i < 230400; i += 3) {
        w.BmpBuf(1)[i] = static_cast<std::uint8_t>((i / 3) % 320);  // blue = column
        w.BmpBuf(1)[i + 1] = 0x22;
        w.BmpBuf(1)[i + 2] = 0x33;
    }
    w.Command3_Click(1);
    w.RecvBitMapShow();
    const platform::Surface& s = w.Picture2.GetSurface();
    EXPECT_EQ(s.PixelAt(10, 10), platform::Rgb(0x11, 0x11, 0x11));
    EXPECT_EQ(s.PixelAt(329, 249), platform::Rgb(0x11, 0x11, 0x11));
    EXPECT_EQ(s.PixelAt(330, 10), platform::Rgb(0x33, 0x22, 319)) << "picture 2 mirrored";
    EXPECT_EQ(s.PixelAt(649, 100), platform::Rgb(0x33, 0x22, 0));
    EXPECT_EQ(s.PixelAt(9, 100), w.Picture2.Background());
    EXPECT_EQ(s.PixelAt(650, 100), w.Picture2.Background());
    EXPECT_EQ(s.PixelAt(100, 250), w.Picture2.Background());

    std::ifstream in(PathOf("PICTUTE1.BMP"), std::ios::binary);
    const std::vector<std::uint8_t> file{std::istreambuf_iterator<char>(in),
                                         std::istreambuf_iterator<char>()};
    ASSERT_EQ(file.size(), 230455u);
    EXPECT_TRUE(std::equal(w.BmpBuf(1).begin(), w.BmpBuf(1).end(), file.begin() + 54));
    EXPECT_FALSE(std::filesystem::exists(PathOf("PICTUTE0.BMP")));

    // A picture whose server is disconnected keeps its last image.
    w.fShow[0] = platform::kFalse;
    std::fill(w.BmpBuf(0).begin(), w.BmpBuf(0).end(), 0x77);
    w.RecvBitMapShow();
    EXPECT_EQ(s.PixelAt(100, 100), platform::Rgb(0x11, 0x11, 0x11));
}

TEST_F(BrondelSession, TheExitItemWaitsForBothVideoConnections) {
    Start(true);
    EXPECT_TRUE(window_->mnuEnd.Enabled());
    Connect(0);
    Connect(1);
    EXPECT_FALSE(window_->mnuEnd.Enabled());
    ASSERT_TRUE(window_->mnuCon[0]->UserClick());
    EXPECT_EQ(window_->mnuCon[0]->Caption(), "接続1");
    EXPECT_EQ(window_->Text1[0]->Text(), "切断しました。");
    EXPECT_FALSE(window_->mnuEnd.Enabled());
    ASSERT_TRUE(window_->mnuCon[1]->UserClick());
    EXPECT_TRUE(window_->mnuEnd.Enabled());
    EXPECT_FALSE(window_->GetForm().RequestClose(platform::UnloadMode::kCloseBox));
    ASSERT_TRUE(window_->mnuEnd.UserClick());
    EXPECT_TRUE(window_->GetForm().Unloaded());
    EXPECT_EQ(hMainWnd, nullptr);
    EXPECT_EQ(window_->Timer1.Interval(), 0);
}

TEST_F(BrondelSession, ABadFrameCostsOneFrameAndTheNextTickAsksAgain) {
    Start(false);
    Connect(0, false);
    ASSERT_TRUE(WaitFor([&] { return Requests(0, kNext) == 1; }));
    servers_[0]->SendVideoBytes({0x10, 0x20, 0x30, 0x40, 0xFF, 0xFF});
    ASSERT_TRUE(WaitFor([&] { return boxes_.size() == 1; }));
    window_->Timer1.Fire();
    ASSERT_TRUE(WaitFor([&] { return Requests(0, kNext) == 2; }));
    servers_[0]->SendFrame();
    ASSERT_TRUE(WaitFor([&] { return window_->FramesOf(0) == 1; }));
}

TEST_F(BrondelSession, TheAlarmGoesOnAVideoConnection) {
    Start(false);
    Connect(0, false);
    Connect(1, false);
    ASSERT_TRUE(WaitFor([&] { return Requests(0, kNext) == 1 && Requests(1, kNext) == 1; }));
    // A sound block of server 2 brings the read notification: the alarm goes to server 2's video.
    ASSERT_TRUE(window_->mnu_Danger.UserClick());
    servers_[1]->SendSoundBlocks(1);
    ASSERT_TRUE(WaitFor([&] { return Requests(1, kDanger) == 1; }));
    EXPECT_EQ(Requests(0, kDanger), 0);
    EXPECT_TRUE(window_->mnu_Danger.Enabled());

    // A read notification queued for server 2's sound connection before its session ended: the alarm
    // goes to server 1's video connection.
    const CSock::SOCKET sound2 = window_->WaveClient(1).MySock;
    servers_[1]->CloseVideo();
    ASSERT_TRUE(WaitFor([&] { return window_->VideoClient(1).MySock == 0; }));
    ASSERT_TRUE(window_->mnu_Danger.UserClick());
    window_->Handle()->Send(platform::WM_SOCKET, sound2, winsock::FD_READ);
    ASSERT_TRUE(WaitFor([&] { return Requests(0, kDanger) == 1; }));
}

}  // namespace
