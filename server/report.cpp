#include "server/report.h"

#include <cstdio>

namespace tessaly {

void Reporter::Report(const std::string& line) const {
    if (watcher_) {
        watcher_(line);
        return;
    }
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

}  // namespace tessaly
