// tessaly with its window (the Qt Widgets front-end).
#include <QApplication>
#include <QTimer>

#include "platform/gui/gui_frontend.h"
#include "platform/signals.h"
#include "server/program.h"

namespace tessaly {

bool HaveWindowFrontend() {
    return true;
}

int RunWithWindow(const Options& options, int argc, char** argv) {
    QApplication app(argc, argv);
    if (!PrepareProgram(options)) return 2;
    int status = 0;
    {
        StreamingVideo sv(options.server);
        sv.Form_Load();
        platform::GuiFrontend gui(sv.form());
        platform::TerminationSignals termination([&](int) { sv.mnuEND().UserClick(); });
        gui.Show();
        // Serving starts once the window has come up and been activated.
        if (options.serve) QTimer::singleShot(0, &app, [&] { sv.mnuServer().UserClick(); });
        status = app.exec();
    }
    EndProgram();
    return status;
}

}  // namespace tessaly
