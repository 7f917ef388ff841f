// Which peers the server takes: the allow list chosen on the command line (--allow), and the report of the
// ones it refuses, one line per address at most once a minute. Runs on the window thread only.
#pragma once

#include <cstdint>

#include "server/allow_list.h"
#include "server/report.h"

namespace tessaly {

class Admission {
  public:
    explicit Admission(const Reporter& reporter) : reporter_(reporter) {}

    void SetAllowList(AllowList list) { allowed_ = std::move(list); }
    // Whether a connection from address (network order, as accepted) may stay; a refusal is reported.
    bool Admitted(std::int32_t address);
    // Reports a connection from address that was turned away elsewhere (the web face's own check).
    void ReportRefusal(std::int32_t address);

  private:
    const Reporter& reporter_;
    AllowList allowed_;
    RefusalLog refusals_;
};

}  // namespace tessaly
