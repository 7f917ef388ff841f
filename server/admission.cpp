#include "server/admission.h"

#include <cstdio>

#include "platform/timestamp.h"

namespace tessaly {

namespace {

struct Admission {
    AllowList allowed;
    RefusalLog refusals;
    std::function<void(const std::string&)> reporter;
};

Admission& TheAdmission() {
    static Admission admission;
    return admission;
}

void Report(const std::string& line) {
    if (TheAdmission().reporter) {
        TheAdmission().reporter(line);
        return;
    }
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
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

void SetRefusalReporter(std::function<void(const std::string&)> reporter) {
    TheAdmission().reporter = std::move(reporter);
}

void ResetAdmission() {
    TheAdmission() = {};
}

}  // namespace tessaly
