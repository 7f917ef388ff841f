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

void AddCommonOptions(QCommandLineParser& parser) {
    QCoreApplication::setApplicationVersion(platform::SuiteVersion());
    parser.addHelpOption();
    parser.addVersionOption();
    const QString name = QCoreApplication::applicationName();
    parser.addOptions({
        {"headless", "Run without a window: status lines on standard output, commands on standard input."},
        {"dir",
         "The program's folder (init.txt, snapshots); default: the executable's folder, or "
         "$XDG_CONFIG_HOME/" +
             name + " (~/.config/" + name + ") when that holds no init.txt and cannot be written.",
         "DIR"},
        {"video-port", "The servers' video port (default 8001).", "N", "8001"},
        {"sound-port", "The servers' sound port (default 8002).", "N", "8002"},
        {"audio-out", "Sound output: auto, alsa[:NAME], null[:FILE.wav] or none (default auto).", "SINK",
         "auto"},
        {"reconnect",
         "After a lost or failed connection, try again every 3 s until connected (or 切断, 終了)."},
    });
}

bool ParsePort(const QString& text, std::uint16_t& port) {
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 1 || value > 65535) return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

bool ParseServer(const QCommandLineParser& parser, const QString& option, std::string& host,
                 std::string& error) {
    host = parser.value(option).toStdString();
    if (!parser.isSet(option)) return true;
    if (!host.empty() && host.find_first_of(" \t,") == std::string::npos) return true;
    error = "bad server '" + host + "' for --" + option.toStdString() + " (a host name or address)";
    return false;
}

std::string NoServerNamedText(const std::string& which, const std::string& item, const std::string& option) {
    return "--connect: no server is named" + which + " (init.txt's " + item + " item, or " + option +
           " HOST); not connecting";
}

int RunReceiver(int argc, char** argv, const ReceiverStart& start) {
    const bool windows = !WantsHeadless(argc, argv) && CanShowWindows();
    auto app = MakeApplication(argc, argv, windows);
    QCoreApplication::setApplicationName(start.name);
    platform::SetProgramTitle(start.caption);
    std::signal(SIGPIPE, SIG_IGN);  // a closed --raw-out pipe is reported, not fatal

    QCommandLineParser parser;
    parser.setApplicationDescription(start.description);
    AddCommonOptions(parser);
    parser.addOptions(start.options);
    parser.process(*app);

    CommonOptions options;
    std::string error;
    if (!ApplyCommonOptions(parser, options, error) || !start.parse(parser, error)) {
        std::fprintf(stderr, "%s: %s\n", start.name, error.c_str());
        return 2;
    }
    if (!windows && !options.headless)
        std::fprintf(stderr, "%s: no display; running without a window\n", start.name);
    return start.run(options, windows);
}

bool ApplyCommonOptions(const QCommandLineParser& parser, CommonOptions& options, std::string& error) {
    options.headless = parser.isSet("headless");
    options.reconnect = parser.isSet("reconnect");
    if (!ParsePort(parser.value("video-port"), options.ports.video)) {
        error = "bad video port '" + parser.value("video-port").toStdString() + "' (1 to 65535)";
        return false;
    }
    if (!ParsePort(parser.value("sound-port"), options.ports.sound)) {
        error = "bad sound port '" + parser.value("sound-port").toStdString() + "' (1 to 65535)";
        return false;
    }
    options.dir = parser.value("dir").toStdString();
    const std::string program = QCoreApplication::applicationName().toStdString();
    if (!platform::UseReceiverFolder(options.dir, program, platform::CurrentFolderFacts(), &error))
        return false;
    options.audio_out = parser.value("audio-out").toStdString();
    return platform::SetWaveOutBackend(options.audio_out, &error);
}

ReceiverRunner::ReceiverRunner(platform::Form& form, bool windows, std::FILE* status_out) {
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
    if (window_) {
        window_->Show();
    } else {
        console_->Start();
    }
    return QCoreApplication::exec();
}

}  // namespace receiver
