// One slot of the server's client table and the table's sizes: slots 1 to 10 take receivers, each with its
// video connection, its sound connection, the bookkeeping of the watchdog and the order of arrival that
// pairs sound connections and passes the alarm right on.
#pragma once

#include <cstdint>

#include "platform/window/window.h"
#include "platform/winsock/winsock.h"

namespace tessaly {

using SOCKET = winsock::SOCKET;

struct ClientInfo {
    platform::Flag fUse = platform::kFalse;    // the slot holds a client
    platform::Flag fAlive = platform::kFalse;  // a frame request came since the last watchdog tick
    winsock::SOCKADDR_IN Addr{};               // peer of the video connection; kept when the slot is freed
    SOCKET VideoSock = 0;
    SOCKET WaveSock = 0;
    std::int32_t LastTick = 0;       // TickCount when the slot was filled and at each frame request
    std::uint64_t Joined = 0;        // order of arrival: 1 for the first receiver placed, 0 for a free slot
    std::int64_t LastRequestMs = 0;  // monotonic time of the last request of any kind (or of the arrival)
};

inline constexpr std::int32_t kReceiverSlots = 10;  // slots 1..10 take receivers: MaxClient at start
inline constexpr int kClientSlots = 12;  // slot 0 only ever holds a stray sound connection; 11 is unused

}  // namespace tessaly
