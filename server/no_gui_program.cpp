// tessaly built without the Qt Widgets front-end: it runs --headless only.
#include "server/program.h"

namespace tessaly {

bool HaveWindowFrontend() {
    return false;
}

int RunWithWindow(const Options& options, int argc, char** argv) {
    return RunHeadless(options, argc, argv);
}

}  // namespace tessaly
