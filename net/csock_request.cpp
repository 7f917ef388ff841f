// Request texts on the video connection: UTF-16 code units, low byte first, one send and one receive each.
#include "net/CSock.h"

bool CSock::SendStartDataSock(SOCKET Sock, std::u16string_view SendData) {
    const std::size_t bytes = SendData.size() * 2;
    if (bytes > static_cast<std::size_t>(msg_buf_bound_) + 1) return false;
    std::uint8_t* out = buffers_->scratch.data();
    for (std::size_t i = 0; i < SendData.size(); ++i) {
        out[2 * i] = static_cast<std::uint8_t>(SendData[i] & 0xFF);
        out[2 * i + 1] = static_cast<std::uint8_t>(SendData[i] >> 8);
    }
    // One send: a request is tiny, and a receiver's next FD_WRITE would send another anyway.
    const int sent = winsock::send(Sock, reinterpret_cast<const char*>(out), static_cast<int>(bytes), 0);
    return sent == static_cast<int>(bytes);
}

bool CSock::SendStartData(std::u16string_view SendData) {
    return SendStartDataSock(MySock, SendData);
}

void CSock::RecvStartDataSock(SOCKET Sock, std::u16string& RecvData) {
    ReadRequest(Sock, RecvData);
}

std::int32_t CSock::RecvStartData(std::u16string& RecvData) {
    return ReadRequest(MySock, RecvData);
}

std::int32_t CSock::ReadRequest(SOCKET sock, std::u16string& RecvData) {
    RecvData.clear();
    std::uint8_t* in = buffers_->scratch.data();
    const int n = winsock::recv(sock, reinterpret_cast<char*>(in), msg_buf_bound_ - 1, 0);
    if (n == winsock::SOCKET_ERROR) return -1;
    DecodeRequest(std::span<const std::uint8_t>(in, static_cast<std::size_t>(n)), RecvData);
    return 0;
}
