// Who may connect: the list's text (good and bad entries, the default), the once-a-minute refusal report,
// and a server that takes 127.0.0.1 only: a peer from 127.0.0.2 on either port is closed at once, takes no
// slot and plays no chime, while the receiver from 127.0.0.1 is served.
#include <arpa/inet.h>

#include "server/admission.h"
#include "server/allow_list.h"
#include "server/report.h"
#include "server_test_rig.h"

using namespace server_test;
using tessaly::AllowList;

namespace {

std::int32_t Ip(const char* text) {
    return static_cast<std::int32_t>(::inet_addr(text));
}

AllowList Parsed(const char* text) {
    std::string error;
    auto list = AllowList::Parse(text, &error);
    EXPECT_TRUE(list.has_value()) << text << ": " << error;
    return list.value_or(AllowList());
}

TEST(AllowListTest, TheDefaultTakesThisMachineAndThePrivateNetworksOnly) {
    const AllowList list;
    for (const char* in : {"127.0.0.1", "127.255.0.9", "10.200.3.4", "172.16.0.1", "172.31.255.255",
                           "192.168.1.20", "169.254.7.7"}) {
        EXPECT_TRUE(list.Allows(Ip(in))) << in;
    }
    for (const char* out : {"8.8.8.8", "172.32.0.1", "172.15.255.255", "192.169.0.1", "11.0.0.1", "0.0.0.0",
                            "255.255.255.255", "128.0.0.1"}) {
        EXPECT_FALSE(list.Allows(Ip(out))) << out;
    }
    EXPECT_FALSE(list.AllowsAnyone());
}

TEST(AllowListTest, AddressesAndRangesReplaceTheDefault) {
    const AllowList list = Parsed(" 192.168.1.77/24 ,10.0.0.7,203.0.113.0/30");
    for (const char* in : {"192.168.1.0", "192.168.1.255", "10.0.0.7", "203.0.113.3"}) {
        EXPECT_TRUE(list.Allows(Ip(in))) << in;
    }
    for (const char* out : {"192.168.2.1", "10.0.0.8", "203.0.113.4", "127.0.0.1"}) {
        EXPECT_FALSE(list.Allows(Ip(out))) << out;
    }
    EXPECT_TRUE(Parsed("any").AllowsAnyone());
    EXPECT_TRUE(Parsed("any").Allows(Ip("8.8.8.8")));
    EXPECT_TRUE(Parsed("0.0.0.0/0").Allows(Ip("8.8.8.8")));
    EXPECT_FALSE(Parsed("0.0.0.0/0").AllowsAnyone());
}

TEST(AllowListTest, ABadEntryIsRefusedNamingIt) {
    for (const char* bad : {"1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.4/33", "1.2.3.4/", "a.b.c.d",
                            "1.2.3.4,", "-1.2.3.4", "1.2.3.4/-1", "1..2.3", "1.2.3.4 5", "1.2.3.4/8x",
                            "0x7f.0.0.1", "1.2.3.1000", "anyone", "010.0.0.1", "10.0.0.0/08"}) {
        std::string error;
        EXPECT_FALSE(AllowList::Parse(bad, &error).has_value()) << bad;
        const std::string text(bad);
        const std::string entry = text.substr(text.find(',') == std::string::npos ? 0 : text.find(',') + 1);
        EXPECT_NE(error.find("'" + entry + "'"), std::string::npos) << error;
    }
    std::string error;
    EXPECT_FALSE(AllowList::Parse(" ", &error).has_value());
    EXPECT_NE(error.find("any"), std::string::npos) << error;
}

TEST(RefusalLogTest, OneLinePerAddressAMinuteCountingTheRefusalsBetween) {
    tessaly::RefusalLog log;
    const auto a = Ip("203.0.113.9");
    const auto b = Ip("198.51.100.1");
    EXPECT_EQ(log.Refused(a, 1000), "tessaly: refused a connection from 203.0.113.9 (not in --allow)");
    EXPECT_EQ(log.Refused(a, 2000), std::nullopt);
    EXPECT_EQ(log.Refused(a, 60'999), std::nullopt);
    EXPECT_TRUE(log.Refused(b, 3000).has_value());  // another address has its own minute
    EXPECT_EQ(log.Refused(a, 61'000),
              "tessaly: refused a connection from 203.0.113.9 (not in --allow); 2 more "
              "refused since the last report");
    EXPECT_EQ(log.Refused(a, 62'000), std::nullopt);
    // Many addresses: the table forgets the oldest, and each new address is still reported.
    for (int i = 0; i < 100; ++i) {
        const std::string ip = "198.18.0." + std::to_string(i);
        EXPECT_TRUE(log.Refused(Ip(ip.c_str()), 70'000 + i).has_value()) << ip;
    }
}

class AllowListServerTest : public ServerTest {
  protected:
    static constexpr std::uint32_t kOutsider = 0x7F000002;  // 127.0.0.2

    void Configure(tessaly::ServerSettings& settings) override { settings.allow = Parsed("127.0.0.1"); }
    void SetUp() override {
        ServerTest::SetUp();
        server().reporter.SetWatcher([this](const std::string& line) { reports_.push_back(line); });
        sv_->mnUSec_Click();  // security mode off: every placed receiver chimes
        Serve();
    }
    std::vector<std::string> reports_;
};

TEST_F(AllowListServerTest, APeerOutsideTheListIsClosedAtOnceOnEitherPortAndReportedOnce) {
    const int video = ConnectVideo();  // from 127.0.0.1: slot 1, awaiting its sound connection
    ASSERT_EQ(server().LastSlot, 1);
    const int outsider_video = ConnectVideo(kOutsider);
    const int outsider_sound = ConnectSound(kOutsider);  // would join slot 1 if it were let in
    EXPECT_TRUE(ClosedByServer(outsider_video));
    EXPECT_TRUE(ClosedByServer(outsider_sound));
    EXPECT_EQ(InUse(), 1);
    EXPECT_EQ(server().Clients[1].WaveSock, 0u);
    EXPECT_EQ(CountSounds("Play in from 0"), 1);
    EXPECT_EQ(reports_,
              std::vector<std::string>{"tessaly: refused a connection from 127.0.0.2 (not in --allow)"});

    // The receiver from 127.0.0.1 gets its sound connection paired and is served.
    const int sound = ConnectSound();
    EXPECT_NE(server().Clients[1].WaveSock, 0u);
    EXPECT_EQ(ReadBlock(sound).size(), 1600u);
    ASSERT_TRUE(server().Capture.Driver().DeliverNextFrame());
    EXPECT_GT(Ask(video).size(), 2u);
}

}  // namespace
