// The console front-end (--headless): shows a form as lines on standard output and takes commands from
// standard input, so that the programs run without a display and can be driven by scripts and tests.
// - Each change of a status text box's text is printed as a line ("label: text" when the box has a label;
//   setting an empty text prints nothing).
// - Each refresh of a list box prints all its rows, one line each, once the handler that changed the list
//   has returned (a clear followed by several additions is one refresh).
// - Input lines are split into words; the first word picks a registered command, which gets the others.
//   "help" lists the commands. The end of input only stops the reading: the program goes on.
// Everything runs on the window thread; input is read when the event loop finds it ready.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QObject;
class QSocketNotifier;

namespace platform {

class Control;
class Form;
class ListBox;

class ConsoleFrontend {
  public:
    using CommandHandler = std::function<void(const std::vector<std::string>& args)>;

    // Builds the front-end for a form whose controls are all in place. Commands are read from input_fd;
    // lines go to out, complaints about input to err.
    explicit ConsoleFrontend(Form& form, int input_fd = 0, std::FILE* out = stdout, std::FILE* err = stderr);
    ~ConsoleFrontend();
    ConsoleFrontend(const ConsoleFrontend&) = delete;
    ConsoleFrontend& operator=(const ConsoleFrontend&) = delete;

    // Registers a command; usage is shown by "help", e.g. "drop N   drop the receiver in slot N".
    void AddCommand(std::string word, std::string usage, CommandHandler handler);

    // Starts reading commands and activates the form once, as showing a window would.
    void Start();

    // Runs one input line as if it had been typed. Returns false for an unknown command (err says so).
    bool Dispatch(std::string_view line);

    // Prints one line on out at once (programs use it for their periodic figures).
    void PrintLine(std::string_view line);

    // By default unloading the form ends the event loop (queued, so it works before the loop runs too).
    void SetQuitOnUnload(bool quit) { quit_on_unload_ = quit; }

    bool InputEnded() const { return input_ended_; }

  private:
    struct Command {
        std::string word;
        std::string usage;
        CommandHandler handler;
    };

    void WatchControls();
    void ListChanged(ListBox* list);
    void PrintDirtyLists();
    void ReadInput();
    void ShowHelp();

    Form& form_;
    int input_fd_;
    std::FILE* out_;
    std::FILE* err_;
    std::vector<Command> commands_;
    std::vector<std::pair<Control*, int>> subscriptions_;  // control, subscription id
    int form_subscription_ = 0;
    std::vector<ListBox*> dirty_lists_;
    std::unique_ptr<QObject> context_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::string pending_;
    bool quit_on_unload_ = true;
    bool discarding_ = false;  // skipping an overlong line up to its end
    bool input_ended_ = false;
    bool started_ = false;
};

// Whether a display is there to show windows on ($DISPLAY, $WAYLAND_DISPLAY or $QT_QPA_PLATFORM set and
// not empty); without one the programs fall back to this console front-end.
bool HaveDisplay();

}  // namespace platform
