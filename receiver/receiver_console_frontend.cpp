// The receivers built without STREAM_GUI: console only.
#include <QCoreApplication>

#include "receiver/receiver_frontend.h"

namespace receiver {

bool CanShowWindows() {
    return false;
}

std::unique_ptr<QCoreApplication> MakeApplication(int& argc, char** argv, bool) {
    return std::make_unique<QCoreApplication>(argc, argv);
}

std::unique_ptr<WindowFrontend> MakeWindowFrontend(platform::Form&) {
    return nullptr;
}

}  // namespace receiver
