// Each picture once, with pictures delivered by hand: a request waits for a picture that receiver has not
// had, one picture answers every waiting receiver, a stopped capture still answers, and --resend-frames
// answers every request. Requests go straight to HandleRequest where a test must know that nothing was sent
// within the call.
#include <poll.h>

#include <chrono>

#include "server/frame_pacing.h"
#include "server_test_rig.h"

using namespace server_test;

namespace {

class FramePacingTest : public ServerTest {
  protected:
    void SetUp() override {
        ServerTest::SetUp();
        Serve();
    }
    bool Deliver() { return server().Capture.Driver().DeliverNextFrame(); }
    // Bytes are waiting on fd now.
    static bool Pending(int fd) {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, 0) == 1;
    }
};

TEST_F(FramePacingTest, RequestsWaitForAPictureTheReceiverHasNotHadAndOnePictureAnswersAllWaiting) {
    const Receiver a = Connect();
    const Receiver b = Connect();
    // Before the first picture both wait: no empty frame messages at start-up.
    server().HandleRequest(kVideoNextRequest, a.slot);
    server().HandleRequest(kVideoNextRequest, b.slot);
    EXPECT_FALSE(Pending(a.video));
    EXPECT_FALSE(Pending(b.video));
    ASSERT_TRUE(Deliver());
    const Bytes first = ReadFrame(a.video);
    ASSERT_EQ(first.size(), static_cast<std::size_t>(server().PressSize()) + 2);
    EXPECT_GT(first.size(), 2u);
    EXPECT_EQ(ReadFrame(b.video), first);

    // a asks twice with that picture in hand: it waits, and the next picture answers both requests once.
    server().HandleRequest(kVideoNextRequest, a.slot);
    server().HandleRequest(kVideoNextRequest, a.slot);
    EXPECT_FALSE(Pending(a.video));
    EXPECT_EQ(server().Clients[a.slot].fAlive,
              platform::kTrue);  // a waiting request still counts for the watchdog
    ASSERT_TRUE(Deliver());
    const Bytes second = ReadFrame(a.video);
    EXPECT_NE(second, first);
    EXPECT_FALSE(Pending(b.video));  // b did not ask: nothing is pushed to it
    Settle(100);
    EXPECT_FALSE(Pending(a.video));

    // b has not had the second picture: its request is answered with it without waiting for a third.
    csock_test::WriteAll(b.video, Utf16(kVideoNextRequest));
    EXPECT_EQ(ReadFrame(b.video), second);
}

TEST_F(FramePacingTest, AWaitingRequestIsAnsweredWithTheCurrentFrameWhenNoPictureComes) {
    const Receiver r = Connect();
    ASSERT_TRUE(Deliver());
    const Bytes frame = Ask(r.video);
    ASSERT_GT(frame.size(), 2u);
    // The capture stops: the next request waits its longest, then gets the frame it has.
    const auto asked = std::chrono::steady_clock::now();
    csock_test::WriteAll(r.video, Utf16(kVideoNextRequest));
    EXPECT_EQ(ReadFrame(r.video, 10000), frame);
    const auto waited = std::chrono::steady_clock::now() - asked;
    // It waited rather than being answered at once (half the period: coarse timers may fire a little early).
    EXPECT_GE(waited, std::chrono::milliseconds(tessaly::FramePacer::kDueAfterMs / 2));
    // And again: a stopped capture keeps answering, one frame per request.
    EXPECT_EQ(Ask(r.video), frame);
    EXPECT_FALSE(Pending(r.video));
}

TEST_F(FramePacingTest, ANewReceiverGetsTheFrameThatIsThereAtOnce) {
    const Receiver first = Connect();
    ASSERT_TRUE(Deliver());
    const Bytes frame = Ask(first.video);
    const Receiver late = Connect();
    server().HandleRequest(kVideoNextRequest, late.slot);
    EXPECT_EQ(ReadFrame(late.video), frame);
    // A slot freed and filled again starts afresh: its new receiver is not taken for the old one.
    sv_->ClientClose(late.slot);
    const Receiver again = Connect();
    ASSERT_EQ(again.slot, late.slot);
    server().HandleRequest(kVideoNextRequest, again.slot);
    EXPECT_EQ(ReadFrame(again.video), frame);
}

class ResendFramesTest : public FramePacingTest {
  protected:
    void Configure(tessaly::ServerSettings& settings) override { settings.resend_frames = true; }
};

TEST_F(ResendFramesTest, EveryRequestIsAnsweredAtOnceWithTheCurrentFrame) {
    const Receiver r = Connect();
    // Before any picture: the end marker alone, once per request. Sent within the calls: nothing runs the
    // loop meanwhile.
    for (int i = 0; i < 3; ++i) server().HandleRequest(kVideoNextRequest, r.slot);
    EXPECT_EQ(csock_test::ReadExactly(r.video, 6), Bytes(6, 0xFF));
    // Three requests for one picture: three copies of it.
    ASSERT_TRUE(Deliver());
    Bytes frame(server().PressBuf.begin(), server().PressBuf.begin() + server().PressSize());
    frame.insert(frame.end(), {0xFF, 0xFF});
    ASSERT_GT(frame.size(), 2u);
    for (int i = 0; i < 3; ++i) server().HandleRequest(kVideoNextRequest, r.slot);
    const Bytes got = csock_test::ReadExactly(r.video, 3 * frame.size());
    Bytes copies;
    for (int i = 0; i < 3; ++i) copies.insert(copies.end(), frame.begin(), frame.end());
    EXPECT_EQ(got, copies);
}

}  // namespace
