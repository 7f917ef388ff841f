#include "web/guess_throttle.h"

#include <algorithm>

namespace web {

int GuessThrottle::WaitSeconds(std::int32_t address, std::int64_t now_micros) {
    std::lock_guard lock(mutex_);
    const auto found = records_.find(address);
    if (found == records_.end() || found->second.blocked_until <= now_micros) return 0;
    return static_cast<int>((found->second.blocked_until - now_micros + 999'999) / 1'000'000);
}

std::string GuessThrottle::Failed(std::int32_t address, const std::string& shown_address,
                                  std::int64_t now_micros) {
    std::lock_guard lock(mutex_);
    if (records_.size() >= kMostAddresses && records_.find(address) == records_.end()) ForgetOldest();
    Record& r = records_[address];
    ++r.failures;
    ++r.unreported;
    r.last_failure = now_micros;
    if (r.failures >= kFreeFailures) {
        const int doublings = std::min(r.failures - kFreeFailures, 20);
        const std::int64_t pause = std::min(kFirstPauseMicros << doublings, kLongestPauseMicros);
        r.blocked_until = now_micros + pause;
    }
    if (r.reported && now_micros - r.last_line < kLogEveryMicros) return {};
    const std::string line =
        "web: " + std::to_string(r.unreported) + " failed passwords from " + shown_address;
    r.reported = true;
    r.last_line = now_micros;
    r.unreported = 0;
    return line;
}

void GuessThrottle::Succeeded(std::int32_t address) {
    std::lock_guard lock(mutex_);
    records_.erase(address);
}

void GuessThrottle::ForgetOldest() {
    const auto oldest = std::min_element(records_.begin(), records_.end(), [](const auto& a, const auto& b) {
        return a.second.last_failure < b.second.last_failure;
    });
    if (oldest != records_.end()) records_.erase(oldest);
}

}  // namespace web
