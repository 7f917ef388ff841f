// Video frame messages: the compressed frame followed by FF FF, collected per instance until the marker.
#include <algorithm>

#include "net/CSock.h"

bool CSock::SendDCTVideoDataSock(SOCKET Sock, std::span<std::uint8_t> Dat, std::int32_t DataSize,
                                 std::int32_t /*Num*/) {
    if (DataSize < 0 || Dat.size() < static_cast<std::size_t>(DataSize) + 2) return false;
    Dat[DataSize] = 0xFF;  // the end marker goes into the caller's buffer: the frame leaves without a copy
    Dat[DataSize + 1] = 0xFF;
    return SendAll(Sock, Dat.data(), DataSize + 2);
}

bool CSock::SendDCTVideoData(std::span<std::uint8_t> Dat, std::int32_t DataSize, std::int32_t Num) {
    return SendDCTVideoDataSock(MySock, Dat, DataSize, Num);
}

void CSock::RecvVideoDataSock(SOCKET Sock, std::span<std::uint8_t> Data) {
    CollectVideo(buffers_->video_sock, Sock, Data);
}

void CSock::RecvVideoData(std::span<std::uint8_t> Data) {
    CollectVideo(buffers_->video, MySock, Data);
}

void CSock::CollectVideo(VideoCollector& c, SOCKET sock, std::span<std::uint8_t> Data) {
    if (Data.size() < static_cast<std::size_t>(msg_buf_bound_)) return;
    const int k =
        winsock::recv(sock, reinterpret_cast<char*>(c.buf.data() + c.count), msg_buf_bound_ - c.count, 0);
    if (k > 0) c.count += k;
    // Only one frame is in flight on a connection, so its end is also the end of some receive.
    if (c.count >= 2 && c.buf[c.count - 2] == 0xFF && c.buf[c.count - 1] == 0xFF) {
        std::copy_n(c.buf.begin(), c.count, Data.begin());
        last_video_size_ = c.count;
        FLG = platform::kTrue;
        c.count = 0;
        return;
    }
    if (c.count >= msg_buf_bound_) {
        // A full buffer without an end marker: every later receive would ask for nothing and the stream
        // would stall for good. The peer is broken; its bytes are dropped and the owner closes it.
        c.count = 0;
        Broken(sock, Failure::kOverlongVideoMessage);
    }
}
