// Which peers the server takes: the allow list chosen on the command line (--allow), and the report of the
// ones it refuses, one line per address at most once a minute. Runs on the window thread only.
#pragma once

#include <cstdint>

#include "server/allow_list.h"

namespace tessaly {

void SetAllowList(AllowList list);
// Whether a connection from address (network order, as accepted) may stay; a refusal is reported
// (server/report.h).
bool Admitted(std::int32_t address);
void ResetAdmission();

}  // namespace tessaly
