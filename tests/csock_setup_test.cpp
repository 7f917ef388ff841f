// CSock's sockets: listening, connecting, closing; address texts, the lParam halves and the address file.
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "csock_test_util.h"
#include "net/listen_address.h"
#include "platform/window/paths.h"

using namespace csock_test;
using platform::kFalse;
using platform::kTrue;

namespace {

std::int32_t ValueOfBytes(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    const std::uint8_t bytes[4] = {a, b, c, d};
    std::int32_t v;
    std::memcpy(&v, bytes, 4);
    return v;
}

class CSockSetupTest : public LoopbackTest {};

TEST_F(CSockSetupTest, ListeningSocketsTakeConnectionsOnTheBindAddressAndASecondCallDoesNothing) {
    CSock server(CSock::kServerMsgBufBound);
    server.SetBindAddress("127.0.0.1");
    const ReservedPort video;
    const ReservedPort sound;
    const std::array<std::uint16_t, 2> ports{video.Port(), sound.Port()};
    std::array<CSock::SOCKET, 2> listening{};
    server.SetListenSock(ports, listening);
    EXPECT_EQ(server.fServer, kTrue);
    EXPECT_EQ(server.fWsa, kTrue);
    EXPECT_EQ(server.SERVER, "127.0.0.1");
    EXPECT_TRUE(boxes_.empty());
    ASSERT_NE(listening[0], 0u);
    ASSERT_NE(listening[1], 0u);

    Keep(PeerConnect(ports[0]));
    Keep(PeerConnect(ports[1]));
    ASSERT_TRUE(WaitFor([&] { return Count(listening[0], 8) == 1 && Count(listening[1], 8) == 1; }));

    std::array<CSock::SOCKET, 2> again{};
    server.SetListenSock(ports, again);
    EXPECT_EQ(again[0], 0u);
    EXPECT_TRUE(boxes_.empty());

    server.CloseListenSock(listening);
    EXPECT_EQ(listening, (std::array<CSock::SOCKET, 2>{0, 0}));
    EXPECT_EQ(server.fServer, kTrue);
    server.WSAClose();
    EXPECT_EQ(server.fWsa, kFalse);
}

TEST_F(CSockSetupTest, APortInUseShowsTheBindBoxAndLeavesTheServerNotListening) {
    const ReservedPort reserved;
    const std::uint16_t port = reserved.Port();
    CSock server(CSock::kServerMsgBufBound);
    server.SetBindAddress("127.0.0.1");
    const std::array<std::uint16_t, 2> twice{port, port};
    std::array<CSock::SOCKET, 2> listening{};
    server.SetListenSock(twice, listening);
    EXPECT_EQ(boxes_, std::vector<std::string>{"BINDできません。"});
    EXPECT_NE(listening[0], 0u) << "the port opened before the failure keeps listening";
    EXPECT_EQ(listening[1], 0u);
    EXPECT_EQ(server.fServer, kFalse);
    Keep(PeerConnect(port));
    ASSERT_TRUE(WaitFor([&] { return Count(listening[0], 8) == 1; }));

    // Another instance finds the port taken at its first socket.
    CSock other(CSock::kServerMsgBufBound);
    other.SetBindAddress("127.0.0.1");
    std::array<CSock::SOCKET, 1> one{};
    other.SetListenSock(std::array<std::uint16_t, 1>{port}, one);
    EXPECT_EQ(one[0], 0u);
    EXPECT_EQ(other.fServer, kFalse);
    EXPECT_EQ(boxes_.size(), 2u);
}

TEST_F(CSockSetupTest, AZeroPortEndsTheListAndAnUnknownBindAddressCannotBeBound) {
    CSock server;
    server.SetBindAddress("127.0.0.1");
    const ReservedPort reserved;
    std::array<CSock::SOCKET, 2> listening{};
    server.SetListenSock(std::array<std::uint16_t, 2>{reserved.Port(), 0}, listening);
    EXPECT_NE(listening[0], 0u);
    EXPECT_EQ(listening[1], 0u);
    EXPECT_EQ(server.fServer, kTrue);

    CSock nowhere;
    nowhere.SetBindAddress("listener.invalid");
    std::array<CSock::SOCKET, 1> none{};
    nowhere.SetListenSock(std::array<std::uint16_t, 1>{reserved.Port()}, none);
    EXPECT_EQ(nowhere.SERVER, "255.255.255.255");
    EXPECT_EQ(boxes_, std::vector<std::string>{"BINDできません。"});
    EXPECT_EQ(nowhere.fServer, kFalse);
}

TEST_F(CSockSetupTest, AClientConnectsAndClosesLikeAReceiver) {
    std::uint16_t port;
    int listener = Keep(PeerListen(&port));
    CSock client;
    client.SetClient(port, "127.0.0.1");
    EXPECT_EQ(client.fWsa, kTrue);
    ASSERT_NE(client.MySock, 0u);
    ASSERT_TRUE(WaitFor([&] { return Count(client.MySock, winsock::FD_CONNECT) == 1; }));
    int peer = Keep(::accept(listener, nullptr, nullptr));

    winsock::WSAAsyncSelect(client.MySock, hMainWnd, platform::WM_SOCKET, 35);
    ASSERT_TRUE(WaitFor([&] { return Count(client.MySock, winsock::FD_WRITE) == 1; }));
    const CSock::SOCKET was = client.MySock;
    client.CloseSock();
    EXPECT_EQ(client.MySock, 0u);
    char c;
    EXPECT_EQ(::recv(peer, &c, 1, 0), 0) << "the peer sees the connection end";
    client.CloseSock();  // nothing left to close
    Settle();
    EXPECT_EQ(EventsOf(was), (std::vector<std::int32_t>{winsock::FD_CONNECT, winsock::FD_WRITE}));

    CSock idle;
    idle.WSAClose();
    EXPECT_EQ(idle.fWsa, kFalse);
}

TEST_F(CSockSetupTest, RefusedAndUnresolvableConnectsArriveAsConnectNotificationsWithTheError) {
    const ReservedPort nobody;  // nothing listens there
    CSock refused;
    refused.SetClient(nobody.Port(), "127.0.0.1");
    CSock unknown;
    unknown.SetClient(8001, "no such host");
    ASSERT_TRUE(
        WaitFor([&] { return !EventsOf(refused.MySock).empty() && !EventsOf(unknown.MySock).empty(); }));
    Settle();
    ASSERT_EQ(EventsOf(refused.MySock), (std::vector<std::int32_t>{16 | (10061 << 16)}));
    const std::int32_t lparam = EventsOf(refused.MySock)[0];
    EXPECT_EQ(CSock::LWORD(lparam), 16);
    EXPECT_EQ(CSock::HWORD(lparam), 10061);
    EXPECT_EQ(EventsOf(unknown.MySock), (std::vector<std::int32_t>{16 | (winsock::WSAHOST_NOT_FOUND << 16)}));
    EXPECT_TRUE(boxes_.empty());
}

TEST(CSockAddress, ValuesAreWrittenAsDottedTextFirstOctetFirst) {
    EXPECT_EQ(CSock::GetMyLocalIPString(ValueOfBytes(0xC0, 0xA8, 0x00, 0x64)), "192.168.0.100");
    EXPECT_EQ(CSock::GetMyLocalIPString(ValueOfBytes(0x0A, 0, 0, 0)), "10.0.0.0");
    EXPECT_EQ(CSock::AdToIP(ValueOfBytes(0x0A, 0, 0, 1)), "10.0.0.1");
    EXPECT_EQ(CSock::AdToIP(0), "0.0.0.0");
    EXPECT_EQ(CSock::AdToIP(-1), "255.255.255.255");
    EXPECT_EQ(CSock::GetMyLocalIPString(-1), "255.255.255.255");
}

TEST(CSockAddress, WordHalvesAreSigned16BitValues) {
    const std::int32_t refused = 16 | (10061 << 16);
    EXPECT_EQ(CSock::LWORD(refused), 16);
    EXPECT_EQ(CSock::HWORD(refused), 10061);
    EXPECT_EQ(CSock::LWORD(0x0000FFFF), -1);
    EXPECT_EQ(CSock::HWORD(static_cast<std::int32_t>(0xFFFF0000u)), -1);
    EXPECT_EQ(CSock::HWORD(static_cast<std::int32_t>(0x80000000u)), -32768);
    EXPECT_EQ(CSock::LWORD(0x12348000), -32768);
    EXPECT_EQ(CSock::HWORD(0x7FFF0000), 32767);
}

TEST(CSockAddress, ALoopbackHostAddressGivesWayToTheFirstInterfaceAddress) {
    const std::int32_t debian_host = ValueOfBytes(127, 0, 1, 1);
    const std::int32_t lan = ValueOfBytes(192, 168, 0, 7);
    EXPECT_EQ(ChooseListenAddress(debian_host, lan), lan);
    EXPECT_EQ(ChooseListenAddress(debian_host, -1), debian_host)
        << "a machine without a network keeps loopback";
    EXPECT_EQ(ChooseListenAddress(ValueOfBytes(10, 1, 2, 3), lan), ValueOfBytes(10, 1, 2, 3));
    EXPECT_EQ(ChooseListenAddress(-1, lan), -1);
    EXPECT_TRUE(IsLoopbackAddress(ValueOfBytes(127, 0, 0, 1)));
    EXPECT_FALSE(IsLoopbackAddress(ValueOfBytes(128, 0, 0, 1)));
}

TEST(CSockAddress, MsgBufBoundIsEachProgramsChoiceWithinTheBuffers) {
    EXPECT_EQ(CSock().MsgBufBound(), 65535);
    EXPECT_EQ(CSock(CSock::kServerMsgBufBound).MsgBufBound(), 65000);
    EXPECT_EQ(CSock(1 << 20).MsgBufBound(), 65535);
}

class CSockAddressFileTest : public LoopbackTest {
  protected:
    void SetUp() override {
        LoopbackTest::SetUp();
        folder_ = std::filesystem::temp_directory_path() / ("csock_adr_" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder_);
        platform::SetProgramFolder(folder_.string());
    }
    void TearDown() override {
        platform::SetProgramFolder("");
        std::filesystem::remove_all(folder_);
        LoopbackTest::TearDown();
    }
    std::filesystem::path folder_;
};

TEST_F(CSockAddressFileTest, AnAddressComesBackAsSavedAndAFieldEndsAtAComma) {
    CSock sock;
    ASSERT_TRUE(sock.AdrFileSave("adr.txt", "192.168.0.100"));
    std::ifstream raw(folder_ / "adr.txt", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(raw)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, "192.168.0.100\r\n");
    EXPECT_EQ(sock.AdrFileLoad("adr.txt"), "192.168.0.100");

    std::ofstream(folder_ / "port.txt") << "  10.0.0.1,8001\r\n";
    EXPECT_EQ(sock.AdrFileLoad("port.txt"), "10.0.0.1");
    std::ofstream(folder_ / "quoted.txt") << "\"host, with comma\"\r\n";
    EXPECT_EQ(sock.AdrFileLoad("quoted.txt"), "host, with comma");
    EXPECT_TRUE(boxes_.empty());

    EXPECT_FALSE(sock.AdrFileSave("no/such/folder.txt", "x"));
}

TEST_F(CSockAddressFileTest, AMissingFileShowsItsErrorNumberOnceAndGivesEmptyText) {
    CSock sock;
    EXPECT_EQ(sock.AdrFileLoad("missing.txt"), "");
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].rfind("2 ", 0), 0u) << boxes_[0];  // ENOENT, then its description and the path
}

}  // namespace
