#include "server/admission.h"

#include "platform/capture/timestamp.h"

namespace tessaly {

bool Admission::Admitted(std::int32_t address) {
    if (allowed_.Allows(address)) return true;
    ReportRefusal(address);
    return false;
}

void Admission::ReportRefusal(std::int32_t address) {
    const auto line = refusals_.Refused(address, platform::MonotonicMicros() / 1000);
    if (line) reporter_.Report(*line);
}

}  // namespace tessaly
