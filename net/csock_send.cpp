// Sending frames and sound blocks without waiting, the watch over connections whose pending output takes
// nothing, and what happens to a connection that is declared broken.
#include "net/CSock.h"

bool CSock::SendAll(SOCKET sock, const std::uint8_t* data, std::int32_t size) {
    if (winsock::SendWhole(sock, reinterpret_cast<const char*>(data), size, kPendingOutputBytes) != 0) {
        const bool over = winsock::WSAGetLastError() == winsock::WSAENOBUFS;
        Broken(sock, over ? Failure::kSendOverLimit : Failure::kSendFailed);
        return false;
    }
    if (winsock::PendingOutputBytes(sock) > 0) WatchStalls();
    return true;
}

void CSock::WatchStalls() {
    if (!stall_check_) stall_check_ = std::make_unique<platform::Timer>([this] { DropStalled(); });
    if (!stall_check_->Running()) stall_check_->SetInterval(kStallCheckMs);
}

void CSock::DropStalled() {
    for (SOCKET s = winsock::FindStalledOutput(send_stall_limit_ms_); s != 0;
         s = winsock::FindStalledOutput(send_stall_limit_ms_)) {
        Broken(s, Failure::kSendStalled);  // drops the pending output: the next search goes past it
    }
    if (!winsock::AnyPendingOutput()) stall_check_->SetInterval(0);
}

void CSock::Broken(SOCKET sock, Failure why) {
    last_failure_ = why;
    last_failed_sock_ = sock;
    winsock::ReportBroken(sock, static_cast<int>(why));
}

CSock::Failure CSock::FailureOf(SOCKET sock) {
    return static_cast<Failure>(winsock::BrokenReason(sock));
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
        case Failure::kSendOverLimit:
            return "the peer fell too far behind (its unsent data would exceed the limit)";
    }
    return "unknown failure";
}
