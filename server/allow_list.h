// Who may connect to the server: IPv4 addresses and CIDR ranges, or everyone. The default serves this machine
// and the private networks only, so that a program meant for a LAN does not serve the internet by accident
// through a forwarded port. Connections from elsewhere are accepted and closed at once by the server; the
// refusals are reported in one line per address at most once a minute (RefusalLog).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly {

class AllowList {
  public:
    // Loopback 127/8 and the private ranges 10/8, 172.16/12, 192.168/16, 169.254/16.
    AllowList();

    // "any", or comma-separated entries "a.b.c.d" and "a.b.c.d/n" (spaces around entries are ignored; bits
    // beyond the prefix are ignored too). Nothing, and one line for the user in *error, when an entry is bad.
    static std::optional<AllowList> Parse(std::string_view text, std::string* error);

    // The address as the socket layer holds it: its octets in memory order (network order).
    bool Allows(std::int32_t address) const;
    bool AllowsAnyone() const { return anyone_; }

  private:
    struct Range {
        std::uint32_t network;  // host order
        std::uint32_t mask;
    };
    std::vector<Range> ranges_;
    bool anyone_ = false;
};

// Limits refusal reports to one line per address a minute, counting the refusals in between. Keeps the
// addresses seen most recently; a full table forgets the one reported longest ago.
class RefusalLog {
  public:
    static constexpr std::int64_t kQuietMs = 60'000;

    // A refused connection from address at now_ms: the line to report, or nothing while it stays quiet.
    std::optional<std::string> Refused(std::int32_t address, std::int64_t now_ms);

  private:
    struct Entry {
        std::int32_t address = 0;
        std::int64_t reported_ms = 0;
        int unreported = 0;
        bool used = false;
    };
    Entry& EntryFor(std::int32_t address);
    std::array<Entry, 32> entries_{};
};

}  // namespace tessaly
