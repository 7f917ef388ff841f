// What the quillon and brondel programs share around their windows: the common command-line options, the
// choice between a window and console lines, the console commands, SIGINT/SIGTERM and the figures printed
// once a second without a window.
#pragma once

#include <QCommandLineParser>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/console_frontend.h"
#include "platform/ui/controls.h"
#include "platform/window/command_line.h"
#include "platform/window/signals.h"
#include "platform/window/timer.h"
#include "receiver/receiver_frontend.h"
#include "receiver/server_link.h"

namespace receiver {

struct CommonOptions {
    bool headless = false;
    std::string dir;
    Ports ports;
    std::string audio_out = "auto";
    bool reconnect = false;
};

// Whether argv asks for --headless (looked at before the application object exists).
bool WantsHeadless(int argc, char** argv);

void AddCommonOptions(QCommandLineParser& parser);
// Reads and applies the common options (program folder, sound output); false with a message on a bad one.
bool ApplyCommonOptions(const QCommandLineParser& parser, CommonOptions& options, std::string* error);
// A server option's value (a host name or dotted address) into host; false with a message when it is empty
// or holds blanks or commas (as init.txt's item could not).
bool ParseServer(const QCommandLineParser& parser, const QString& option, std::string& host,
                 std::string* error);
// The line --connect prints when no server is named: what to give instead.
std::string NoServerNamedText(const std::string& which, const std::string& item, const std::string& option);

// What a receiver adds to the start-up both share (RunReceiver): its name, title and options, the
// reading of those options, and the running of its window.
struct ReceiverStart {
    const char* name;   // "quillon": the application name and the prefix of its error lines
    const char* title;  // "Quillon": the title of message boxes, the program's name as the server's are
    QString description;
    QList<QCommandLineOption> options;
    // Reads the program's own options after the common ones; false with a message on a bad one.
    std::function<bool(const QCommandLineParser&, std::string* error)> parse;
    // Makes the window and runs it; returns the exit code.
    std::function<int(const CommonOptions&, bool windows)> run;
};

using ParseOutcome = platform::ParseOutcome;

// Parses a receiver's command line (the program's name first): the common options, then start's own, which
// start.parse reads. --help and --version put their text in *out; a bad option puts one line in *error.
ParseOutcome ParseReceiverOptions(const QStringList& arguments, const ReceiverStart& start,
                                  CommonOptions* options, std::string* error, std::string* out);

// The receivers' start-up: the application object (with windows when a display is there and --headless
// was not given), the command line (--help and --version end here), the common options, the program's
// own (a bad one ends with its message and status 2), a note when no display forces the console, then
// start.run.
int RunReceiver(int argc, char** argv, const ReceiverStart& start);

// Runs a receiver's window until it is unloaded: as a window when one can be shown and --headless was not
// given, otherwise as console lines with commands from standard input.
class ReceiverRunner {
  public:
    // status_out: where the console lines go (standard error when standard output carries pictures).
    ReceiverRunner(platform::Form& form, bool windows, std::FILE* status_out);
    ~ReceiverRunner();

    bool Windows() const { return window_ != nullptr; }
    // Registers a console command (no effect with a window).
    void AddCommand(std::string word, std::string usage, platform::ConsoleFrontend::CommandHandler handler);
    // Prints line() once a second (console only).
    void PrintEverySecond(std::function<std::string()> line);
    void PrintLine(const std::string& line);
    // SIGINT and SIGTERM call on_signal.
    void OnTerminationSignal(std::function<void()> on_signal);
    // Shows the window or starts reading commands, then runs the event loop; returns its exit code. A
    // form already unloaded (a signal while the start-up's box was open) returns at once.
    int Run();

  private:
    platform::Form& form_;
    std::unique_ptr<WindowFrontend> window_;
    std::unique_ptr<platform::ConsoleFrontend> console_;
    std::unique_ptr<platform::TerminationSignals> signals_;
    platform::Timer second_timer_;
};

}  // namespace receiver
