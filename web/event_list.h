// The web face's list of motion events (/events.json): the events as the server gives them, newest first,
// optionally only those that started at or after a time given in ISO 8601 (?since=). Standard library only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace web {

// One event: its JSON object (events/ makes it) and its start in seconds since 1970.
struct EventRow {
    std::string json;
    std::int64_t start_unix = 0;
};

// "2026-12-08T10:30:29+01:00", "...Z" or "...-05:00" (a blank for '+', as a query string may turn it) into
// seconds since 1970; false with one line in *error otherwise.
bool ParseIsoTime(std::string_view text, std::int64_t* unix_seconds, std::string* error);

// A JSON array of the rows' objects that started at or after since (all for since < 0), in their order.
std::string EventListJson(const std::vector<EventRow>& newest_first, std::int64_t since);

}  // namespace web
