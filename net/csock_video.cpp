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

void CSock::CollectVideo(FrameCollector& c, SOCKET sock, std::span<std::uint8_t> Data) {
    if (Data.size() < static_cast<std::size_t>(msg_buf_bound_)) return;
    const std::span<std::uint8_t> room = c.Room(msg_buf_bound_);
    const int k = winsock::recv(sock, reinterpret_cast<char*>(room.data()), static_cast<int>(room.size()), 0);
    switch (c.Received(k, msg_buf_bound_)) {
        case FrameCollector::Step::kComplete:
            std::copy(c.Message().begin(), c.Message().end(), Data.begin());
            last_video_size_ = static_cast<std::int32_t>(c.Message().size());
            FLG = platform::kTrue;
            break;
        case FrameCollector::Step::kOverlong:
            // The peer is broken; its bytes are dropped and the owner closes it.
            Broken(sock, Failure::kOverlongVideoMessage);
            break;
        case FrameCollector::Step::kMore:
            break;
    }
}
