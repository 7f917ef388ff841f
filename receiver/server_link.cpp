#include "receiver/server_link.h"

#include <algorithm>

#include "platform/winsock/winsock.h"

namespace receiver {

namespace {

void NoDelay(CSock::SOCKET sock) {
    const std::int16_t on = -1;  // a 16-bit true
    winsock::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), 2);
}

}  // namespace

ServerLink::Kind ServerLink::KindOf(SOCKET sock) const {
    if (sock == 0) return Kind::kNone;
    if (sock == VideoClient.MySock) return Kind::kVideo;
    if (sock == WaveClient.MySock) return Kind::kSound;
    return Kind::kNone;
}

void ServerLink::Connect(const Ports& ports, const std::string& address) {
    VideoClient.SetClient(ports.video, address);
    WaveClient.SetClient(ports.sound, address);
}

void ServerLink::VideoConnected(SOCKET sock) {
    NoDelay(sock);
    winsock::WSAAsyncSelect(sock, hMainWnd, platform::WM_SOCKET,
                            winsock::FD_READ | winsock::FD_WRITE | winsock::FD_CLOSE);
}

void ServerLink::SoundConnected(SOCKET sock) {
    winsock::WSAAsyncSelect(sock, hMainWnd, platform::WM_SOCKET, winsock::FD_READ | winsock::FD_CLOSE);
    NoDelay(sock);
}

void ServerLink::CloseBoth() {
    VideoClient.CloseSock();
    WaveClient.CloseSock();
}

bool ServerLink::ReadFrame() {
    VideoClient.RecvVideoData(VideoBuf);
    return VideoClient.FLG != platform::kFalse;
}

bool ServerLink::ReadSoundBlock() {
    WaveClient.RecvWaveData(WaveBuf);
    return WaveClient.FWG != platform::kFalse;
}

int ServerLink::DecodeFrame() {
    // Only the bytes of this message: a short frame must not run on into an older, longer one.
    const auto size = static_cast<std::size_t>(VideoClient.LastVideoSize());
    return Codec.DecodeDCTPress(
        std::span<const std::uint8_t>(VideoBuf).first(std::min(size, VideoBuf.size())),
        std::span<std::uint8_t>(BmpBuf));
}

}  // namespace receiver
