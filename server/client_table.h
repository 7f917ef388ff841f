// One slot of the server's client table and the table's sizes: slots 1 to 10 take receivers, each with its
// video connection, its sound connection and the bookkeeping of the watchdog.
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
    std::int32_t LastTick = 0;  // TickCount when the slot was filled and at each frame request
};

inline constexpr std::int32_t kReceiverSlots = 10;  // slots 1..10 take receivers: MaxClient at start
inline constexpr int kClientSlots = 12;  // slot 0 only ever holds a stray sound connection; 11 is unused

}  // namespace tessaly
