// Receivers that fail the server in-process: connections reset on either side free their slots at once,
// and a receiver that falls behind on frames or takes no sound is dropped with one reported line while the
// others are served. The watchdog is stopped, so that only the handling under test frees slots.
#include "server/report.h"
#include "server_test_rig.h"

using namespace server_test;

namespace {

class ServerPeerFaultsTest : public ServerTest {
  protected:
    void SetUp() override {
        ServerTest::SetUp();
        Serve();
        sv_->Timer1().SetInterval(0);
        tessaly::SetReporter([this](const std::string& line) { reports_.push_back(line); });
    }
    // The server's end of a connection takes few bytes into its socket: what does not fit stays pending.
    static void NarrowServerSide(CSock::SOCKET s) {
        const std::int16_t small = 4096;
        winsock::setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&small), 2);
    }
    static std::string DroppedLine(int slot, CSock::Failure why) {
        return "tessaly: slot " + std::to_string(slot) + " 127.0.0.1 dropped: " + CSock::DescribeFailure(why);
    }
    std::vector<std::string> reports_;
};

TEST_F(ServerPeerFaultsTest, ResetsOnEitherConnectionFreeTheSlotsAtOnceAndANewcomerIsServed) {
    std::vector<Receiver> crashed;
    for (int i = 0; i < 10; ++i) crashed.push_back(Connect());
    ASSERT_EQ(InUse(), 10);
    std::vector<int> open_ends;
    for (std::size_t i = 0; i < crashed.size(); ++i) {
        const bool video_resets = i % 2 == 0;
        ResetAndForget(video_resets ? crashed[i].video : crashed[i].sound);
        open_ends.push_back(video_resets ? crashed[i].sound : crashed[i].video);
    }
    EXPECT_TRUE(WaitFor([] { return InUse() == 0; }));
    for (int fd : open_ends) EXPECT_TRUE(ClosedByServer(fd));
    const Receiver newcomer = Connect();
    EXPECT_EQ(newcomer.slot, 1);
    EXPECT_EQ(Ask(newcomer.video).size(), 2u);  // the end marker: no picture compressed yet
    EXPECT_TRUE(reports_.empty()) << "a reset is no failure to report";
}

TEST_F(ServerPeerFaultsTest, AReceiverThatFallsBehindOrTakesNoSoundIsDroppedWithOneLineAndTheOthersGoOn) {
    const Receiver normal = Connect();
    const Receiver flooding = Connect(true, 4096);
    NarrowServerSide(Clients[flooding.slot].VideoSock);
    auto& capture = tessaly::Capture().Driver();

    // It asks for every picture and reads none: the frames pile up until one no longer fits.
    const int flooding_slot = flooding.slot;
    EXPECT_TRUE(WaitFor([&] {
        csock_test::WriteAll(flooding.video, Utf16(kVideoNextRequest));
        capture.DeliverNextFrame();
        Settle(5);
        return Clients[flooding_slot].fUse == 0;
    }));
    EXPECT_EQ(reports_, std::vector<std::string>{DroppedLine(flooding_slot, CSock::Failure::kSendOverLimit)});
    EXPECT_TRUE(ClosedByServer(flooding.video));
    EXPECT_GT(Ask(normal.video).size(), 1800u);

    // Its sound connection takes nothing: once blocks wait, 300 ms without progress drop the receiver.
    tessaly::Sock().SetSendStallLimitMs(300);
    const Receiver deaf = Connect(true, 4096);
    NarrowServerSide(Clients[deaf.slot].WaveSock);
    EXPECT_TRUE(WaitFor([&] {
        std::uint8_t sink[4096];
        while (::recv(normal.sound, sink, sizeof sink, MSG_DONTWAIT) > 0) {
        }
        return Clients[deaf.slot].fUse == 0;
    }));
    ASSERT_EQ(reports_.size(), 2u);
    EXPECT_EQ(reports_[1], DroppedLine(deaf.slot, CSock::Failure::kSendStalled));
    EXPECT_NE(Clients[normal.slot].fUse, 0);
    EXPECT_GT(Ask(normal.video).size(), 1800u);
}

}  // namespace
