#include "server/allow_list.h"

#include <charconv>
#include <cstring>

#include "net/CSock.h"

namespace tessaly {

namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

// A whole decimal number from 0 to max, digits only. A leading zero is refused: other tools read "010" as
// octal 8, so the same text would allow a different address there.
bool ParseNumber(std::string_view text, unsigned max, unsigned* value) {
    if (text.empty() || text.size() > 3 || (text.size() > 1 && text.front() == '0')) return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
    return error == std::errc() && end == text.data() + text.size() && *value <= max;
}

// Four dotted decimal octets, into a host-order value.
bool ParseAddress(std::string_view text, std::uint32_t* address) {
    std::uint32_t value = 0;
    for (int k = 0; k < 4; ++k) {
        const std::size_t dot = k < 3 ? text.find('.') : text.size();
        unsigned octet = 0;
        if (dot == std::string_view::npos || !ParseNumber(text.substr(0, dot), 255, &octet)) return false;
        value = value << 8 | octet;
        text.remove_prefix(k < 3 ? dot + 1 : dot);
    }
    *address = value;
    return true;
}

std::uint32_t MaskOf(unsigned prefix) {
    return prefix == 0 ? 0 : ~std::uint32_t{0} << (32 - prefix);
}

std::uint32_t HostOrder(std::int32_t address) {
    std::uint8_t octets[4];
    std::memcpy(octets, &address, 4);
    return std::uint32_t{octets[0]} << 24 | std::uint32_t{octets[1]} << 16 | std::uint32_t{octets[2]} << 8 |
           octets[3];
}

}  // namespace

AllowList::AllowList() {
    for (const auto& [network, prefix] : {std::pair{0x7F000000u, 8u},
                                          {0x0A000000u, 8u},
                                          {0xAC100000u, 12u},
                                          {0xC0A80000u, 16u},
                                          {0xA9FE0000u, 16u}}) {
        ranges_.push_back({network, MaskOf(prefix)});
    }
}

std::optional<AllowList> AllowList::Parse(std::string_view text, std::string* error) {
    AllowList list;
    list.ranges_.clear();
    if (Trim(text).empty()) {
        *error = "--allow names no address (use 'any' to serve everyone)";
        return std::nullopt;
    }
    while (true) {
        const std::size_t comma = text.find(',');
        const std::string_view entry = Trim(text.substr(0, comma));
        const std::size_t slash = entry.find('/');
        std::uint32_t address = 0;
        unsigned prefix = 32;
        if (entry == "any") {
            list.anyone_ = true;
        } else if (!ParseAddress(entry.substr(0, slash), &address) ||
                   (slash != std::string_view::npos && !ParseNumber(entry.substr(slash + 1), 32, &prefix))) {
            *error = "bad --allow entry '" + std::string(entry) +
                     "' (an IPv4 address such as 192.168.1.20, a range such as 192.168.1.0/24, or any)";
            return std::nullopt;
        } else {
            list.ranges_.push_back({address & MaskOf(prefix), MaskOf(prefix)});
        }
        if (comma == std::string_view::npos) return list;
        text.remove_prefix(comma + 1);
    }
}

bool AllowList::Allows(std::int32_t address) const {
    if (anyone_) return true;
    const std::uint32_t host = HostOrder(address);
    for (const Range& r : ranges_) {
        if ((host & r.mask) == r.network) return true;
    }
    return false;
}

std::optional<std::string> RefusalLog::Refused(std::int32_t address, std::int64_t now_ms) {
    Entry& e = EntryFor(address);
    if (e.used && now_ms - e.reported_ms < kQuietMs) {
        ++e.unreported;
        return std::nullopt;
    }
    std::string line = "tessaly: refused a connection from " + CSock::AdToIP(address) + " (not in --allow)";
    if (e.used && e.unreported > 0) {
        line += "; " + std::to_string(e.unreported) + " more refused since the last report";
    }
    e = {address, now_ms, 0, true};
    return line;
}

RefusalLog::Entry& RefusalLog::EntryFor(std::int32_t address) {
    Entry* oldest = &entries_[0];
    for (Entry& e : entries_) {
        if (e.used && e.address == address) return e;
        if (!e.used) return e;
        if (e.reported_ms < oldest->reported_ms) oldest = &e;
    }
    *oldest = {};
    return *oldest;
}

}  // namespace tessaly
