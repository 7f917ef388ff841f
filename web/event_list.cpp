#include "web/event_list.h"

#include <charconv>

namespace web {

namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// The number of `width` digits at text[at], or -1.
int Digits(std::string_view text, std::size_t at, std::size_t width) {
    if (at + width > text.size()) return -1;
    int value = 0;
    const auto [end, error] = std::from_chars(text.data() + at, text.data() + at + width, value);
    return error == std::errc() && end == text.data() + at + width ? value : -1;
}

}  // namespace

bool ParseIsoTime(std::string_view text, std::int64_t* unix_seconds, std::string* error) {
    // YYYY-MM-DDTHH:MM:SS then Z or +HH:MM / -HH:MM.
    const int year = Digits(text, 0, 4), month = Digits(text, 5, 2), day = Digits(text, 8, 2);
    const int hour = Digits(text, 11, 2), minute = Digits(text, 14, 2), second = Digits(text, 17, 2);
    const bool shape = text.size() >= 20 && text[4] == '-' && text[7] == '-' && text[10] == 'T' &&
                       text[13] == ':' && text[16] == ':';
    int offset_minutes = 0;
    bool zone = false;
    if (shape && text.size() == 20 && text[19] == 'Z') {
        zone = true;
    } else if (shape && text.size() == 25 && text[22] == ':') {
        const char sign = text[19];
        const int zone_hours = Digits(text, 20, 2), zone_minutes = Digits(text, 23, 2);
        zone = (sign == '+' || sign == ' ' || sign == '-') && zone_hours >= 0 && zone_hours < 24 &&
               zone_minutes >= 0 && zone_minutes < 60;
        offset_minutes = (sign == '-' ? -1 : 1) * (zone_hours * 60 + zone_minutes);
    }
    if (!zone || year < 0 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 ||
        minute < 0 || minute > 59 || second < 0 || second > 60) {
        *error = "bad time '" + std::string(text) + "' (ISO 8601 such as 2026-12-08T10:30:29+01:00)";
        return false;
    }
    *unix_seconds = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
                    hour * 3600 + minute * 60 + second - offset_minutes * 60;
    return true;
}

std::string EventListJson(const std::vector<EventRow>& newest_first, std::int64_t since) {
    std::string json = "[";
    for (const EventRow& row : newest_first) {
        if (since >= 0 && row.start_unix < since) continue;
        if (json.size() > 1) json += ',';
        json += row.json;
    }
    return json + "]";
}

}  // namespace web
