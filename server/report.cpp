#include "server/report.h"

#include <cstdio>

namespace tessaly {

namespace {

std::function<void(const std::string&)>& Reporter() {
    static std::function<void(const std::string&)> reporter;
    return reporter;
}

}  // namespace

void Report(const std::string& line) {
    if (Reporter()) {
        Reporter()(line);
        return;
    }
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

void SetReporter(std::function<void(const std::string&)> reporter) {
    Reporter() = std::move(reporter);
}

}  // namespace tessaly
