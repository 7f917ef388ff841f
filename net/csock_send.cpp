// The send loop of frames and sound blocks, and what happens to a connection that is declared broken.
#include <chrono>

#include "net/CSock.h"

bool CSock::SendAll(SOCKET sock, const std::uint8_t* data, std::int32_t size) {
    using Clock = std::chrono::steady_clock;
    auto last_progress = Clock::now();
    std::int32_t pos = 0;
    while (pos < size) {
        const int k = winsock::send(sock, reinterpret_cast<const char*>(data + pos), size - pos, 0);
        if (k > 0) {
            pos += k;
            last_progress = Clock::now();
            continue;
        }
        if (k == winsock::SOCKET_ERROR && winsock::WSAGetLastError() != winsock::WSAEWOULDBLOCK) {
            Broken(sock, Failure::kSendFailed);
            return false;
        }
        // The connection is full: wait for room rather than spin, but not for ever on a peer that reads
        // nothing, or one stalled receiver would freeze every other one.
        const auto waited =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - last_progress);
        const auto left = send_stall_limit_ms_ - waited.count();
        if (left <= 0) {
            Broken(sock, Failure::kSendStalled);
            return false;
        }
        winsock::WaitWritable(sock, static_cast<int>(left));
    }
    return true;
}

void CSock::Broken(SOCKET sock, Failure why) {
    last_failure_ = why;
    last_failed_sock_ = sock;
    winsock::ReportBroken(sock);
}

const char* CSock::DescribeFailure(Failure failure) {
    switch (failure) {
        case Failure::kNone:
            return "no failure";
        case Failure::kOverlongVideoMessage:
            return "a video message exceeded the buffer without an end marker";
        case Failure::kSendStalled:
            return "the peer took no data for too long";
        case Failure::kSendFailed:
            return "sending failed (the connection was reset or closed)";
    }
    return "unknown failure";
}
