#include "server/admission.h"

#include "platform/capture/timestamp.h"
#include "server/report.h"

namespace tessaly {

namespace {

struct Admission {
    AllowList allowed;
    RefusalLog refusals;
};

Admission& TheAdmission() {
    static Admission admission;
    return admission;
}

}  // namespace

void SetAllowList(AllowList list) {
    TheAdmission().allowed = std::move(list);
}

bool Admitted(std::int32_t address) {
    Admission& a = TheAdmission();
    if (a.allowed.Allows(address)) return true;
    const auto line = a.refusals.Refused(address, platform::MonotonicMicros() / 1000);
    if (line) Report(*line);
    return false;
}

void ResetAdmission() {
    TheAdmission() = {};
}

}  // namespace tessaly
