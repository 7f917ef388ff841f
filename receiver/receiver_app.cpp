#include "receiver/receiver_app.h"

#include <QCoreApplication>
#include <csignal>
#include <cstring>

#include "platform/wave/wave.h"
#include "platform/window/msgbox.h"
#include "platform/window/paths.h"
#include "platform/window/version.h"

namespace receiver {

bool WantsHeadless(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--headless") == 0) return true;
    }
    return false;
}

int RunReceiver(int argc, char** argv, const ReceiverStart& start) {
    const bool windows = !WantsHeadless(argc, argv) && CanShowWindows();
    auto app = MakeApplication(argc, argv, windows);
    QCoreApplication::setApplicationName(start.name);
    platform::SetProgramTitle(start.title);
    std::signal(SIGPIPE, SIG_IGN);  // a closed --raw-out pipe is reported, not fatal

    CommonOptions options;
    std::string error;
    std::string out;
    switch (ParseReceiverOptions(QCoreApplication::arguments(), start, &options, &error, &out)) {
        case ParseOutcome::kExitOk:
            std::fputs(out.c_str(), stdout);
            return 0;
        case ParseOutcome::kError:
            std::fprintf(stderr, "%s: %s\n", start.name, error.c_str());
            return 2;
        case ParseOutcome::kRun:
            break;
    }
    if (!windows && !options.headless)
        std::fprintf(stderr, "%s: no display; running without a window\n", start.name);
    return start.run(options, windows);
}

ReceiverRunner::ReceiverRunner(platform::Form& form, bool windows, std::FILE* status_out) : form_(form) {
    if (windows) window_ = MakeWindowFrontend(form);
    if (window_ == nullptr)
        console_ = std::make_unique<platform::ConsoleFrontend>(form, 0, status_out, stderr);
}

ReceiverRunner::~ReceiverRunner() {
    second_timer_.SetInterval(0);
}

void ReceiverRunner::AddCommand(std::string word, std::string usage,
                                platform::ConsoleFrontend::CommandHandler handler) {
    if (console_) console_->AddCommand(std::move(word), std::move(usage), std::move(handler));
}

void ReceiverRunner::PrintEverySecond(std::function<std::string()> line) {
    if (!console_) return;
    second_timer_.SetHandler([this, line = std::move(line)] { console_->PrintLine(line()); });
    second_timer_.SetInterval(1000);
}

void ReceiverRunner::PrintLine(const std::string& line) {
    if (console_) console_->PrintLine(line);
}

void ReceiverRunner::OnTerminationSignal(std::function<void()> on_signal) {
    signals_ = std::make_unique<platform::TerminationSignals>(
        [on_signal = std::move(on_signal)](int) { on_signal(); });
}

int ReceiverRunner::Run() {
    if (form_.Unloaded()) return 0;
    if (window_) {
        window_->Show();
    } else {
        console_->Start();
    }
    return QCoreApplication::exec();
}

}  // namespace receiver
