// Starting and stopping Winsock, the listening sockets, the client connection and name resolution.
#include <cstring>

#include "net/CSock.h"
#include "net/listen_address.h"
#include "platform/window/msgbox.h"

namespace {

constexpr winsock::WORD kWinsockVersion = 0x0101;

winsock::SOCKADDR_IN SocketAddress(std::uint16_t port, std::int32_t address) {
    winsock::SOCKADDR_IN a{};
    a.sin_family = AF_INET;
    a.sin_port = winsock::htons(port);
    std::memcpy(&a.sin_addr, &address, 4);
    return a;
}

const winsock::SOCKADDR* AsSockaddr(const winsock::SOCKADDR_IN& a) {
    return reinterpret_cast<const winsock::SOCKADDR*>(&a);
}

void CloseBoth(winsock::SOCKET s) {
    winsock::shutdown(s, winsock::SD_BOTH);
    winsock::closesocket(s);
}

}  // namespace

CSock::CSock(int msg_buf_bound)
    : msg_buf_bound_(msg_buf_bound < 2                 ? 2
                     : msg_buf_bound > kMaxMsgBufBound ? kMaxMsgBufBound
                                                       : msg_buf_bound),
      buffers_(std::make_unique<Buffers>()) {}

CSock::~CSock() = default;

void CSock::WSAOpen() {
    winsock::WSADATA data;
    if (winsock::WSAStartup(kWinsockVersion, &data) == 0) {
        fWsa = platform::kTrue;
    } else {
        platform::MessageBox("初期化失敗");
    }
}

void CSock::WSAClose() {
    if (fWsa != platform::kTrue) return;
    winsock::WSACleanup();
    fWsa = platform::kFalse;
}

void CSock::SetListenSock(std::span<const std::uint16_t> PORT, std::span<SOCKET> ListenSock) {
    if (fServer == platform::kTrue) return;
    ListenFailure.clear();
    WSAOpen();
    const std::int32_t address = ListenAddress();
    for (std::size_t i = 0; i < PORT.size() && i < ListenSock.size(); ++i) {
        if (PORT[i] == 0 && !any_port_listening_) break;
        if (!OpenListener(PORT[i], address, &ListenSock[i])) return;
    }
    fServer = platform::kTrue;
}

// One listening socket, registered before it is bound as the other programs expect. On failure the box
// tells which step failed and the entry is left 0.
bool CSock::OpenListener(std::uint16_t port, std::int32_t address, SOCKET* sock) {
    *sock = winsock::socket(AF_INET, SOCK_STREAM, 0);
    winsock::WSAAsyncSelect(*sock, hMainWnd, platform::WM_SOCKET, winsock::FD_ACCEPT);
    const winsock::SOCKADDR_IN a = SocketAddress(port, address);
    const char* failure = nullptr;
    if (winsock::bind(*sock, AsSockaddr(a), sizeof a) == winsock::SOCKET_ERROR) {
        failure = "BINDできません。";
    } else if (winsock::listen(*sock, 0) == winsock::SOCKET_ERROR) {
        failure = "リスン失敗";
    }
    if (failure == nullptr) return true;
    ListenFailure = failure;
    platform::MessageBox(failure);
    winsock::closesocket(*sock);
    *sock = 0;
    return false;
}

std::uint16_t CSock::ListenPort(SOCKET listening) {
    winsock::SOCKADDR_IN a{};
    int length = sizeof a;
    if (listening == 0 ||
        winsock::getsockname(listening, reinterpret_cast<winsock::SOCKADDR*>(&a), &length) != 0) {
        return 0;
    }
    return winsock::htons(a.sin_port);  // the same swap turns network order back into the host's
}

void CSock::CloseListenSock(std::span<SOCKET> ListenSock) {
    for (SOCKET& s : ListenSock) {
        if (s == 0) continue;
        CloseBoth(s);
        s = 0;
    }
}

void CSock::SetClient(std::uint16_t PORTNUMBER, const std::string& ServerAddress) {
    if (fWsa != platform::kTrue) WSAOpen();
    ResetReceiveState();
    MySock = winsock::socket(AF_INET, SOCK_STREAM, 0);
    if (MySock == winsock::INVALID_SOCKET) {
        const auto lparam = winsock::FD_CONNECT | (winsock::WSAGetLastError() << 16);
        platform::PostMessage(hMainWnd, platform::WM_SOCKET, MySock, lparam);
        return;
    }
    winsock::WSAAsyncSelect(MySock, hMainWnd, platform::WM_SOCKET, winsock::FD_CONNECT);
    const std::int32_t address = IPToAd(ServerAddress);
    if (address == -1) {
        // An unknown name ends the connect at once, as a failed one, instead of knocking at 255.255.255.255.
        const auto lparam = winsock::FD_CONNECT | (winsock::WSAHOST_NOT_FOUND << 16);
        platform::PostMessage(hMainWnd, platform::WM_SOCKET, MySock, lparam);
        return;
    }
    const winsock::SOCKADDR_IN a = SocketAddress(PORTNUMBER, address);
    winsock::connect(MySock, AsSockaddr(a), sizeof a);  // the outcome arrives as FD_CONNECT
}

void CSock::CloseSock() {
    if (MySock == 0) return;
    CloseBoth(MySock);
    MySock = 0;
}

void CSock::ResetReceiveState() {
    buffers_->video_sock.Clear();
    buffers_->video.Clear();
    buffers_->wave_sock.count = 0;
    buffers_->wave.count = 0;
}

std::int32_t CSock::HostToAd(const std::string& name) {
    const winsock::HOSTENT* host = winsock::gethostbyname(name.c_str());
    if (host == nullptr || host->h_addr_list[0] == nullptr) return -1;
    std::int32_t address;
    std::memcpy(&address, host->h_addr_list[0], 4);
    return address;
}

std::int32_t CSock::IPToAd(const std::string& text) {
    auto value = static_cast<std::int32_t>(winsock::inet_addr(text.c_str()));
    if (value == -1) value = HostToAd(text);
    return value;
}

// Fills SERVER with the listening address and gives the value to bind to.
std::int32_t CSock::ListenAddress() {
    std::int32_t address;
    if (!bind_address_.empty()) {
        address = IPToAd(bind_address_);
    } else {
        const auto first_interface = static_cast<std::int32_t>(winsock::FirstNonLoopbackAddress());
        address = ChooseListenAddress(HostToAd(""), first_interface);
    }
    SERVER = GetMyLocalIPString(address);
    return IPToAd(SERVER);
}
