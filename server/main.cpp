// tessaly: the streaming server. With a display it shows its window; with --headless it prints its status
// and list on standard output and takes commands on standard input.
#include <QStringList>
#include <cstdio>

#include "platform/ui/console_frontend.h"
#include "server/program.h"

namespace {

QStringList Arguments(int argc, char** argv) {
    QStringList list;
    for (int i = 0; i < argc; ++i) list << QString::fromLocal8Bit(argv[i]);
    return list;
}

}  // namespace

int main(int argc, char** argv) {
    tessaly::Options options;
    std::string error;
    std::string out;
    switch (tessaly::ParseOptions(Arguments(argc, argv), &options, &out, &error)) {
        case tessaly::ParseOutcome::kExitOk:
            std::fputs(out.c_str(), stdout);
            return 0;
        case tessaly::ParseOutcome::kError:
            std::fprintf(stderr, "tessaly: %s (see --help)\n", error.c_str());
            return 2;
        case tessaly::ParseOutcome::kRun:
            break;
    }
    if (!options.headless && !tessaly::HaveWindowFrontend()) {
        std::fprintf(stderr, "tessaly: this build has no window; running --headless\n");
        options.headless = true;
    }
    if (!options.headless && !platform::HaveDisplay()) {
        // As the receivers do: without a display the console front-end stands in for the window.
        std::fprintf(stderr, "tessaly: no display ($DISPLAY is not set); running --headless\n");
        options.headless = true;
    }
    if (options.headless) return tessaly::RunHeadless(options, argc, argv);
    return tessaly::RunWithWindow(options, argc, argv);
}
