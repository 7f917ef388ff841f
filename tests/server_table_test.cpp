// The client table through the main window: slots in connection order, reuse of the lowest free slot, a
// full table, the list rows and the watchdog driven tick by tick, dropping by double-click, and the
// compression flag that follows whether anyone is connected.
#include "codec/CCODEC.h"
#include "platform/capture/timestamp.h"
#include "server_test_rig.h"

using namespace server_test;

namespace {

class ServerTableTest : public ServerTest {
  protected:
    void SetUp() override {
        ServerTest::SetUp();
        Serve();
    }
};

TEST_F(ServerTableTest, SlotsFollowConnectionOrderAndTheListShowsThem) {
    EXPECT_EQ(sv_->Text1().Text(), "待機します。(127.0.0.1)");
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(Connect().slot, i);
    sv_->Timer1().Fire();
    const std::vector<std::string> rows = {"1 127.0.0.1 1", "2 127.0.0.1 1", "3 127.0.0.1 1",
                                           "Connect=3  /Max:10"};
    EXPECT_EQ(sv_->List1().Items(), rows);
    // Security mode is on from the start: no chime.
    EXPECT_EQ(CountSounds("Play in from 0"), 0);
}

TEST_F(ServerTableTest, TheLowestFreeSlotIsReused) {
    std::vector<Receiver> r;
    for (int i = 0; i < 5; ++i) r.push_back(Connect());
    sv_->ClientClose(3);
    EXPECT_TRUE(ClosedByServer(r[2].video));
    EXPECT_TRUE(ClosedByServer(r[2].sound));
    EXPECT_EQ(Connect().slot, 3);
    EXPECT_EQ(Connect().slot, 6);
}

TEST_F(ServerTableTest, TheEleventhReceiverIsClosedAtOnceWithoutChime) {
    sv_->mnUSec_Click();  // security mode off: every placed connection chimes
    for (int i = 1; i <= 10; ++i) EXPECT_EQ(Connect().slot, i);
    EXPECT_EQ(CountSounds("Play in from 0"), 10);
    const Receiver eleventh = Connect();
    EXPECT_EQ(eleventh.slot, 0);
    EXPECT_TRUE(ClosedByServer(eleventh.video));
    EXPECT_TRUE(ClosedByServer(eleventh.sound));
    EXPECT_EQ(server().Clients[0].WaveSock, 0u);
    EXPECT_EQ(CountSounds("Play in from 0"), 10);
    sv_->Timer1().Fire();
    EXPECT_EQ(sv_->List1().Items().back(), "Connect=10  /Max:10");
}

TEST_F(ServerTableTest, WatchdogDropsAReceiverAfterAWholeTickWithoutRequestWithItsLine) {
    std::vector<std::string> reports;
    server().reporter.SetWatcher([&](const std::string& line) { reports.push_back(line); });
    const Receiver quiet = Connect();
    const Receiver asking = Connect();
    sv_->Timer1().Fire();  // both were seen at their filling
    ASSERT_FALSE(Ask(asking.video).empty());
    sv_->Timer1().Fire();  // the quiet one is dropped now, its row still listed
    EXPECT_EQ(sv_->List1().ListCount(), 3);
    EXPECT_EQ(sv_->List1().Items().back(), "Connect=2  /Max:10");
    EXPECT_EQ(server().Clients[quiet.slot].fUse, 0);
    EXPECT_EQ(server().Clients[quiet.slot].LastTick, 0);
    EXPECT_NE(server().Clients[asking.slot].fUse, 0);
    EXPECT_TRUE(ClosedByServer(quiet.video));
    sv_->Timer1().Fire();  // one more tick: its row is gone; the asking one missed a tick and goes too
    const std::vector<std::string> rows = {"2 127.0.0.1 2", "Connect=1  /Max:10"};
    EXPECT_EQ(sv_->List1().Items(), rows);
    EXPECT_EQ(server().Clients[asking.slot].fUse, 0);
    // Each drop printed its line, as the socket layer's drops do.
    const std::vector<std::string> lines = {"tessaly: slot 1 127.0.0.1 dropped: no frame request for 2 s",
                                            "tessaly: slot 2 127.0.0.1 dropped: no frame request for 2 s"};
    EXPECT_EQ(reports, lines);
}

TEST_F(ServerTableTest, DoubleClickDropsTheSlotThatBeginsTheRowAfterConfirmation) {
    for (int i = 0; i < 3; ++i) Connect();
    sv_->ClientClose(1);
    sv_->Timer1().Fire();
    answer_ = platform::MsgBoxResult::kCancel;
    sv_->List1().UserDblClickRow(0);
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0], "Disconnect=2 127.0.0.1 1");
    EXPECT_EQ(box_titles_[0], "Tessaly");
    EXPECT_NE(server().Clients[2].fUse, 0);
    answer_ = platform::MsgBoxResult::kOk;
    sv_->List1().UserDblClickRow(0);
    EXPECT_EQ(server().Clients[2].fUse, 0);
    EXPECT_NE(server().Clients[3].fUse, 0);
    // The summary row never drops anyone; neither does "drop" for a slot that has no row.
    sv_->List1().UserDblClickRow(sv_->List1().ListCount() - 1);
    EXPECT_EQ(boxes_.size(), 2u);
    EXPECT_FALSE(sv_->DropSlot(7));
    EXPECT_TRUE(sv_->DropSlot(3));
    EXPECT_EQ(server().Clients[3].fUse, 0);
}

TEST_F(ServerTableTest, AnEmptyListHoldsOnlyTheSummaryRowAndIgnoresDoubleClicks) {
    sv_->Timer1().Fire();
    EXPECT_EQ(sv_->List1().Items(), std::vector<std::string>{"Connect=0  /Max:10"});
    sv_->List1().UserDblClickRow(0);
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(ServerTableTest, FramesAreCompressedOnlyWhileSomeoneIsConnected) {
    auto& driver = server().Capture.Driver();
    ASSERT_TRUE(driver.DeliverNextFrame());
    EXPECT_EQ(server().fEncode, 0);
    EXPECT_EQ(server().PressSize(), 0);  // copied only
    // Before any frame was compressed, a request waits its longest for one, then gets the end marker alone.
    const Receiver r = Connect();
    EXPECT_EQ(server().fEncode, platform::kTrue);
    EXPECT_EQ(Ask(r.video), (Bytes{0xFF, 0xFF}));
    ASSERT_TRUE(driver.DeliverNextFrame());
    const std::int32_t size = server().PressSize();
    EXPECT_GE(size, 1800);
    EXPECT_EQ(Ask(r.video).size(), static_cast<std::size_t>(size) + 2);
    sv_->ClientClose(r.slot);
    EXPECT_EQ(server().fEncode, platform::kTrue);  // ClientClose leaves it
    sv_->Timer1().Fire();
    EXPECT_EQ(server().fEncode, 0);
    const Bytes kept(server().PressBuf.begin(), server().PressBuf.begin() + size);
    ASSERT_TRUE(driver.DeliverNextFrame());
    EXPECT_EQ(server().PressSize(), size);
    EXPECT_TRUE(std::equal(kept.begin(), kept.end(), server().PressBuf.begin()));
}

TEST_F(ServerTableTest, AFrameDecodesToTheCapturedPicture) {
    const Receiver r = Connect();
    ASSERT_TRUE(server().Capture.Driver().DeliverNextFrame());
    const Bytes frame = Ask(r.video);
    ASSERT_GT(frame.size(), 2u);
    CCODEC decoder;
    decoder.敷居 = 15;
    std::vector<std::uint8_t> picture(230400);
    ASSERT_EQ(decoder.DecodeDCTPress(std::span(frame.data(), frame.size() - 2), picture), 0);
    EXPECT_TRUE(platform::ReadTimeStamp(picture.data()).has_value());
}

TEST_F(ServerTableTest, ThePreviewShowsTheCapturedPictureUpright) {
    server().Capture.SetPreviewPainting(true);
    ASSERT_TRUE(server().Capture.Driver().DeliverNextFrame());
    const auto* box = sv_->form().Find<platform::PictureBox>(tessaly::CCapture::kCaptureWindowName);
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->Visible());
    EXPECT_EQ(box->GetPlace(), (platform::Place{20, 20, 320, 240}));
    // The buffer is bottom-up: its last row is the top line of the preview, its first row the bottom line.
    for (int x : {0, 100, 319}) {
        const std::uint8_t* top = server().CapBuf.data() + 239 * 960 + x * 3;
        const std::uint8_t* bottom = server().CapBuf.data() + x * 3;
        EXPECT_EQ(box->GetSurface().PixelAt(x, 0), platform::Rgb(top[2], top[1], top[0]));
        EXPECT_EQ(box->GetSurface().PixelAt(x, 239), platform::Rgb(bottom[2], bottom[1], bottom[0]));
    }
}

}  // namespace

namespace {

// The one fan-out of what the server captures: a consumer added beside the server's own gets every picture
// once, whole and with its capture time, and every sound block that the receivers get.
TEST_F(ServerTableTest, AnAddedConsumerGetsEveryPictureWithItsTimeAndTheSoundBlocksTheReceiversGet) {
    std::vector<Bytes> pictures;
    std::vector<std::int64_t> times;
    std::vector<Bytes> blocks;
    server().pictures.Add([&](const tessaly::CapturedPicture& p) {
        pictures.emplace_back(p.bottom_up_bgr.begin(), p.bottom_up_bgr.end());
        times.push_back(p.capture_micros);
    });
    server().sounds.Add(
        [&](const tessaly::CapturedSound& s) { blocks.emplace_back(s.block.begin(), s.block.end()); });
    const Receiver r = Connect();
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(server().Capture.Driver().DeliverNextFrame());
    ASSERT_EQ(pictures.size(), 2u);
    EXPECT_NE(pictures[0], pictures[1]);
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        ASSERT_EQ(pictures[i].size(), 230400u);
        EXPECT_EQ(platform::ReadTimeStamp(pictures[i].data()), times[i]) << "the time it was taken";
    }
    EXPECT_TRUE(std::equal(pictures[1].begin(), pictures[1].end(), server().CapBuf.begin()));
    EXPECT_EQ(Ask(r.video).size(), static_cast<std::size_t>(server().PressSize()) + 2) << "still compressed";
    // The receiver's first block is the first one handed out.
    const Bytes first = ReadBlock(r.sound);
    ASSERT_EQ(first.size(), 1600u);
    ASSERT_FALSE(blocks.empty());
    EXPECT_EQ(blocks[0], first);
}

}  // namespace

// The window's status line with watching: after the serving text, today's events, and while one lasts, that
// it lasts. The test picture's moving parts are the motion.
class ServerWatchStatusTest : public ServerTest {
  protected:
    void Configure(tessaly::ServerSettings& settings) override {
        settings.watch.motion = true;
        settings.watch.detector.frames = 1;
    }
};

TEST_F(ServerWatchStatusTest, TheStatusLineCountsTodaysEventsAndShowsOneThatLasts) {
    sv_->ShowWatchInStatus(true);
    Serve();
    EXPECT_EQ(sv_->Text1().Text(), "待機します。(127.0.0.1)\u3000今日の動き 0 件");
    for (int i = 0; i < 150 && !server().watch->EventLasts(); ++i) {
        ASSERT_TRUE(server().Capture.Driver().DeliverNextFrame());
        platform::DoEvents();
    }
    ASSERT_TRUE(server().watch->EventLasts());
    EXPECT_EQ(sv_->Text1().Text(), "待機します。(127.0.0.1)\u3000動き検知中・今日 1 件");
}
