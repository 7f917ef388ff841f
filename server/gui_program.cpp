// tessaly with its window (the Qt Widgets front-end): the front-end library window.so, which the program
// loads when it has a display. It runs on the program's own server classes; STREAM_VERSION is its release.
#include <QApplication>
#include <QTimer>

#include "platform/ui/qt/gui_frontend.h"
#include "platform/window/signals.h"
#include "server/StreamingVideo.h"
#include "server/program.h"

namespace tessaly {
namespace {

int RunWithWindow(const Options& options, int argc, char** argv) {
    QApplication app(argc, argv);
    PreparedProgram prepared;
    if (const int status = PrepareOrExit(options, &prepared); status != 0) return status;
    int status = 0;
    {
        StreamingVideo sv(prepared.options.server);
        sv.ShowWatchInStatus(true);
        sv.Form_Load();
        platform::GuiFrontend gui(sv.form());
        platform::TerminationSignals termination([&](int) { sv.mnuEND().UserClick(); });
        gui.Show();
        // The window counts as activated once shown, even where no window manager activates it; a later
        // activation by the desktop only keeps it on top. Serving starts after that set-up.
        QTimer::singleShot(0, &app, [&] {
            sv.form().Activate();
            if (options.serve) sv.mnuServer().UserClick();
        });
        status = app.exec();
    }
    return status;
}

}  // namespace
}  // namespace tessaly

extern "C" const char* plugin_release() {
    return STREAM_VERSION;
}

extern "C" int tessaly_run_with_window(const tessaly::Options& options, int argc, char** argv) {
    return tessaly::RunWithWindow(options, argc, argv);
}
