// tessaly: the streaming server. With a display it shows its window, which comes from the front-end library
// window.so in TESSALY_LIBRARY_DIR (relative to the program's folder) where that is installed; with
// --headless, without a display or without that library it prints its status and list on standard output and
// takes commands on standard input.
#include <QStringList>
#include <cstdio>

#include "platform/plugin/plugin.h"
#include "platform/ui/console_frontend.h"
#include "platform/window/version.h"
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
    if (!options.headless && !platform::HaveDisplay()) {
        // As the receivers do: without a display the console front-end stands in for the window.
        std::fprintf(stderr, "tessaly: no display ($DISPLAY is not set); running --headless\n");
        options.headless = true;
    }
    if (options.headless) return tessaly::RunHeadless(options, argc, argv);
    // The library stays loaded until the program ends.
    platform::PluginLibrary window;
    if (!window.Load(platform::PluginLibraryPath(TESSALY_LIBRARY_DIR, "window"), platform::SuiteVersion(),
                     &error)) {
        std::fprintf(stderr, "tessaly: no window (%s; the package tessaly-gui adds it); running --headless\n",
                     error.c_str());
        return tessaly::RunHeadless(options, argc, argv);
    }
    auto run_with_window =
        reinterpret_cast<tessaly::RunWithWindowEntry>(window.Entry(tessaly::kRunWithWindow));
    if (run_with_window == nullptr) {
        std::fprintf(stderr, "tessaly: the window library has no %s; running --headless\n",
                     tessaly::kRunWithWindow);
        return tessaly::RunHeadless(options, argc, argv);
    }
    return run_with_window(options, argc, argv);
}
