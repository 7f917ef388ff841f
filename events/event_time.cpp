// Formatting an event's wall-clock times.
#include "events/event_time.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace events {
namespace {

struct LocalFields {
    int year, month, day, hour, minute, second;
};

LocalFields Local(const WallTime& time) {
    using namespace std::chrono;
    const sys_seconds local{seconds{time.unix_seconds + std::int64_t{time.utc_offset_minutes} * 60}};
    const sys_days day = floor<days>(local);
    const year_month_day date{day};
    const hh_mm_ss clock{local - day};
    return {static_cast<int>(date.year()),
            static_cast<int>(static_cast<unsigned>(date.month())),
            static_cast<int>(static_cast<unsigned>(date.day())),
            static_cast<int>(clock.hours().count()),
            static_cast<int>(clock.minutes().count()),
            static_cast<int>(clock.seconds().count())};
}

}  // namespace

std::string IsoTime(const WallTime& time) {
    const LocalFields t = Local(time);
    const int offset = std::abs(time.utc_offset_minutes);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, time.utc_offset_minutes < 0 ? '-' : '+', offset / 60,
                  offset % 60);
    return text;
}

std::string CompactTime(const WallTime& time) {
    const LocalFields t = Local(time);
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d-%02d%02d%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return text;
}

}  // namespace events
