// Slows down password guessing: after kFreeFailures wrong passwords from one address, that address is
// answered 429 for a time that doubles with each further failure (1 s up to 5 min), and a line for the log
// is made at most once a minute per address. A right password clears the address's count. Memory stays
// bounded: beyond kMostAddresses, the address that failed longest ago is forgotten.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace web {

class GuessThrottle {
  public:
    static constexpr int kFreeFailures = 5;
    static constexpr std::int64_t kFirstPauseMicros = 1'000'000;
    static constexpr std::int64_t kLongestPauseMicros = 300'000'000;
    static constexpr std::int64_t kLogEveryMicros = 60'000'000;
    static constexpr std::size_t kMostAddresses = 4096;

    // How long the address must still wait before it may try again (0: it may try now), in whole seconds
    // rounded up.
    int WaitSeconds(std::int32_t address, std::int64_t now_micros);

    // Counts a wrong password. Returns the log line to print ("web: N failed passwords from ADDR", N the
    // failures since the last line) or an empty text when a line for this address went out within the minute.
    std::string Failed(std::int32_t address, const std::string& shown_address, std::int64_t now_micros);

    void Succeeded(std::int32_t address);

  private:
    struct Record {
        int failures = 0;
        int unreported = 0;
        std::int64_t last_failure = 0;
        std::int64_t blocked_until = 0;
        std::int64_t last_line = 0;
        bool reported = false;
    };
    void ForgetOldest();

    std::mutex mutex_;
    std::map<std::int32_t, Record> records_;
};

}  // namespace web
