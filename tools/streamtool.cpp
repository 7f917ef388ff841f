#include "tools/streamtool.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstring>

#include "platform/window/version.h"

namespace streamtool {
namespace {

std::vector<Subcommand>& Commands() {
    static std::vector<Subcommand> commands;
    return commands;
}

void PrintHelp(FILE* out) {
    std::fprintf(out, "usage: streamtool SUBCOMMAND [OPTIONS] ARGS...\n\nSubcommands:\n");
    for (const Subcommand& c : Commands()) std::fprintf(out, "  %-58s %s\n", c.usage, c.summary);
    std::fprintf(out,
                 "\n'streamtool SUBCOMMAND --help' shows the usage of one subcommand; "
                 "'streamtool --version' the release.\n");
}

}  // namespace

Register::Register(const Subcommand& command) {
    Commands().push_back(command);
}

int Fail(const char* name, const std::string& message) {
    std::fprintf(stderr, "streamtool %s: %s\n", name, message.c_str());
    return 1;
}

int UsageError(const char* name, const std::string& message) {
    std::fprintf(stderr, "streamtool %s: %s (see 'streamtool %s --help')\n", name, message.c_str(), name);
    return kUsageStatus;
}

}  // namespace streamtool

int main(int argc, char** argv) {
    using namespace streamtool;
    QCoreApplication app(argc, argv);  // the platform loop, for subcommands that talk to the network
    if (argc < 2) {
        std::fprintf(stderr, "streamtool: no subcommand given (see 'streamtool --help')\n");
        return kUsageStatus;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        PrintHelp(stdout);
        return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0 || std::strcmp(argv[1], "-v") == 0) {
        std::printf("streamtool %s\n", platform::SuiteVersion());
        return 0;
    }
    for (const Subcommand& c : Commands()) {
        if (std::strcmp(c.name, argv[1]) != 0) continue;
        std::vector<std::string> args(argv + 2, argv + argc);
        for (const std::string& a : args) {
            if (a == "--help" || a == "-h") {
                std::printf("usage: streamtool %s\n%s\n", c.usage, c.summary);
                return 0;
            }
        }
        return c.run(args);
    }
    const bool option = argv[1][0] == '-';
    std::fprintf(stderr, "streamtool: unknown %s '%s' (see 'streamtool --help')\n",
                 option ? "option" : "subcommand", argv[1]);
    return kUsageStatus;
}
