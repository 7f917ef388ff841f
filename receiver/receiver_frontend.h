// The receivers' front-end choice: a real window (with STREAM_GUI and a display) or console lines. The
// build links one of receiver_gui_frontend.cpp and receiver_console_frontend.cpp.
#pragma once

#include <memory>

class QCoreApplication;

namespace platform {
class Form;
}

namespace receiver {

class WindowFrontend {
  public:
    virtual ~WindowFrontend() = default;
    virtual void Show() = 0;
};

// Whether this build can show windows and a display is there to show them on.
bool CanShowWindows();
// The application object: a widget application for windows, a core one for the console.
std::unique_ptr<QCoreApplication> MakeApplication(int& argc, char** argv, bool windows);
// A window for the form (null in a console-only build).
std::unique_ptr<WindowFrontend> MakeWindowFrontend(platform::Form& form);

}  // namespace receiver
