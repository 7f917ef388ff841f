// Collects what arrives on a video connection into frame messages: a compressed frame and its end marker
// FF FF, without a header or a length. Only one frame is in flight on a connection, so a message ends where
// some receive ends: after each receive the collector looks for the marker at the end of what it holds.
#pragma once

#include <array>
#include <cstdint>
#include <span>

class FrameCollector {
  public:
    // The largest message bound a collector holds (a program's MsgBufBound, 65,535 at most) and one byte.
    static constexpr int kCapacity = 65536;

    enum class Step { kMore, kComplete, kOverlong };

    // Where the next receive goes: the room left below bound (1 to kCapacity - 1).
    std::span<std::uint8_t> Room(int bound);
    // The receive put bytes (0 or more) at the start of Room(bound). kComplete: a frame message ends here;
    // Message() holds it until the next receive. kOverlong: bound bytes hold no end marker, so every later
    // receive would ask for nothing; they are dropped. kMore: the message goes on.
    Step Received(int bytes, int bound);
    // The last complete message, end marker included.
    std::span<const std::uint8_t> Message() const;
    // Forgets a message begun (a new connection).
    void Clear() { count_ = 0; }

  private:
    int count_ = 0;
    int message_bytes_ = 0;
    std::array<std::uint8_t, kCapacity> buf_;
};
