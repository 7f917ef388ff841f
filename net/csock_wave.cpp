// Sound blocks: exactly 1600 bytes, collected per instance; the numbered form puts two numbers in front.
#include <algorithm>

#include "net/CSock.h"

bool CSock::SendWaveDataSock(SOCKET Sock, std::span<const std::uint8_t> Data) {
    if (Data.size() < kWaveBlockBytes) return false;
    return SendAll(Sock, Data.data(), kWaveBlockBytes);
}

bool CSock::SendWaveData(std::span<const std::uint8_t> Data) {
    return SendWaveDataSock(MySock, Data);
}

void CSock::RecvWaveDataSock(SOCKET Sock, std::span<std::uint8_t> WOut) {
    CollectWave(buffers_->wave_sock, Sock, WOut);
}

void CSock::RecvWaveData(std::span<std::uint8_t> WOut) {
    CollectWave(buffers_->wave, MySock, WOut);
}

void CSock::CollectWave(WaveCollector& c, SOCKET sock, std::span<std::uint8_t> WOut) {
    if (WOut.size() < kWaveBlockBytes) return;
    // Never more than the rest of this block: the next block's bytes wait in the socket.
    const int k =
        winsock::recv(sock, reinterpret_cast<char*>(c.buf.data() + c.count), kWaveBlockBytes - c.count, 0);
    if (k > 0) c.count += k;
    if (c.count < kWaveBlockBytes) return;
    c.count = 0;
    FWG = platform::kTrue;
    std::copy(c.buf.begin(), c.buf.end(), WOut.begin());
}

bool CSock::SendWaveServerSock(SOCKET Sock, std::span<const std::uint8_t> Data, std::int32_t Num,
                               std::int32_t WaveNum) {
    if (Data.size() < kWaveBlockBytes || Num < 0 || Num > 255 || WaveNum < 0 || WaveNum > 255) return false;
    std::array<std::uint8_t, kNumberedWaveBytes> block;
    block[0] = static_cast<std::uint8_t>(Num);
    block[1] = static_cast<std::uint8_t>(WaveNum);
    std::copy_n(Data.begin(), kWaveBlockBytes, block.begin() + 2);
    // Sent whole like every other block: a block cut short would shift every later one on the connection.
    return SendAll(Sock, block.data(), kNumberedWaveBytes);
}

bool CSock::SendWaveServer(std::span<const std::uint8_t> Data, std::int32_t Num, std::int32_t WaveNum) {
    return SendWaveServerSock(MySock, Data, Num, WaveNum);
}
