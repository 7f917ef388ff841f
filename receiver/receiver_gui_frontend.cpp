// The window front-end of the receivers, built with STREAM_GUI.
#include <QApplication>

#include "platform/ui/console_frontend.h"
#include "platform/ui/qt/gui_frontend.h"
#include "receiver/receiver_frontend.h"

namespace receiver {

namespace {

class GuiWindow : public WindowFrontend {
  public:
    explicit GuiWindow(platform::Form& form) : gui_(form) {}
    void Show() override { gui_.Show(); }

  private:
    platform::GuiFrontend gui_;
};

}  // namespace

bool CanShowWindows() {
    return platform::HaveDisplay();
}

std::unique_ptr<QCoreApplication> MakeApplication(int& argc, char** argv, bool windows) {
    if (windows) return std::make_unique<QApplication>(argc, argv);
    return std::make_unique<QCoreApplication>(argc, argv);
}

std::unique_ptr<WindowFrontend> MakeWindowFrontend(platform::Form& form) {
    return std::make_unique<GuiWindow>(form);
}

}  // namespace receiver
