// streamtool: the suite's command-line tool. Each subcommand lives in its own streamtool_*.cpp file and
// registers itself with a static Subcommand object.
#pragma once

#include <string>
#include <vector>

namespace streamtool {

// Runs one subcommand; args are the words after the subcommand's name. Returns the exit status.
using RunFunction = int (*)(const std::vector<std::string>& args);

struct Subcommand {
    const char* name;
    const char* usage;    // e.g. "encode [--threshold N] IN OUT"
    const char* summary;  // one line for the overview
    RunFunction run;
};

// Registers a subcommand; declare one static object per subcommand.
struct Register {
    explicit Register(const Subcommand& command);
};

// Prints "streamtool NAME: MESSAGE" on stderr and returns 1, the status of a failed run.
int Fail(const char* name, const std::string& message);

// The exit status of a command line that does not fit (an unknown option, a missing or bad argument), as the
// other programs of the suite answer one.
inline constexpr int kUsageStatus = 2;
// Prints "streamtool NAME: MESSAGE (see 'streamtool NAME --help')" on stderr and returns kUsageStatus.
int UsageError(const char* name, const std::string& message);

}  // namespace streamtool
