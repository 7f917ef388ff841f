// A capture time carried inside the picture itself, so that a receiver can measure how long a frame took
// from capture to painting without any change to what goes over the wire. The time is written as a strip of
// 8 x 8 blocks, each plain black or plain white, along the bottom 16 lines of a 320 x 240 picture: a block
// codec that keeps roughly each block's mean brightness keeps the strip readable. Two sync bytes and a
// CRC-16 make a strip that was not written, or was misread, come back as "no time stamp".
#pragma once

#include <cstdint>
#include <optional>

namespace platform {

// The monotonic clock in microseconds; both ends on one machine share it.
std::int64_t MonotonicMicros();

// The stamp keeps the low 48 bits of the time (about 8.9 years of microseconds).
inline constexpr std::int64_t kTimeStampMask = (std::int64_t{1} << 48) - 1;

// The strip: the picture's bottom 16 lines (the first 16 rows of a bottom-up buffer), 40 x 2 blocks.
inline constexpr int kStampLines = 16;

// Writes micros into a 320 x 240 BGR24 picture, rows bottom-up (230,400 bytes), over its bottom 16 lines.
void WriteTimeStamp(std::uint8_t* picture, std::int64_t micros);

// Reads the stamp back from a picture in the same layout, after lossy coding; nothing when the strip holds
// no valid stamp.
std::optional<std::int64_t> ReadTimeStamp(const std::uint8_t* picture);

// now - stamp in microseconds, for a stamp read back with ReadTimeStamp and a time of MonotonicMicros.
std::int64_t StampAgeMicros(std::int64_t stamp, std::int64_t now);

}  // namespace platform
