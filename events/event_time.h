// The times an event carries. The event logic reads no clock: the caller gives each picture's times, a
// monotonic one for the gaps between pictures and the wall-clock one (with the local zone's offset) for
// what users read, so that tests are exact and a clock that is set does not stretch or cut an event.
#pragma once

#include <cstdint>
#include <string>

namespace events {

struct WallTime {
    std::int64_t unix_seconds = 0;
    int utc_offset_minutes = 0;  // the local zone's offset from UTC, e.g. 60 for +01:00
    bool operator==(const WallTime&) const = default;
};

struct PictureTime {
    std::int64_t monotonic_micros = 0;  // the capture time stamp
    WallTime wall;
};

// ISO 8601 in the local zone, to the second: "2026-12-08T10:30:29+00:00".
std::string IsoTime(const WallTime& time);
// A name for files and ids from the local time: "20261208-103029".
std::string CompactTime(const WallTime& time);

}  // namespace events
