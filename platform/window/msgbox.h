// Message boxes. With a GUI front-end installed they are modal dialogs with an OK button; without one the
// text goes to standard error as one line and the call returns at once.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

using MessageBoxHandler = std::function<void(const std::string& text, const std::string& title)>;

// Shows text with the program's title (or the given one) and returns when it has been acknowledged.
void MessageBox(std::string_view text, std::string_view title = {});

// Replaces the way boxes are shown and returns the previous way; the GUI installs a modal dialog,
// tests install a recorder. An empty handler restores the standard-error line.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

enum class MsgBoxResult { kOk, kCancel };
using MessageBoxOkCancelHandler =
    std::function<MsgBoxResult(const std::string& text, const std::string& title)>;

// Shows text with OK and Cancel buttons and returns the choice. Without a handler of its own it is shown
// like MessageBox (through its handler, or as a standard-error line) and the answer is OK.
MsgBoxResult MessageBoxOkCancel(std::string_view text, std::string_view title = {});

// Replaces the way OK/Cancel boxes are shown and returns the previous way; empty restores the default.
MessageBoxOkCancelHandler SetMessageBoxOkCancelHandler(MessageBoxOkCancelHandler handler);

// Asks a question with Yes and No (はい/いいえ); true for Yes. Without a handler of its own it is asked
// through the OK/Cancel way (OK for Yes).
bool MessageBoxYesNo(std::string_view text, std::string_view title = {});
using MessageBoxYesNoHandler = std::function<bool(const std::string& text, const std::string& title)>;
// Replaces the way Yes/No questions are asked and returns the previous way; empty restores the default.
MessageBoxYesNoHandler SetMessageBoxYesNoHandler(MessageBoxYesNoHandler handler);

// Asks for one line of text (starting from initial) with OK and Cancel: the text on OK, nothing on Cancel.
using InputBoxHandler = std::function<std::optional<std::string>(
    const std::string& prompt, const std::string& title, const std::string& initial)>;
std::optional<std::string> InputBox(std::string_view prompt, std::string_view initial = {});
// Whether InputBox can ask at all: only a GUI front-end installs a handler; without one it answers nothing.
bool CanAskForInput();
// Replaces the way the question is asked and returns the previous way; empty: none can be asked.
InputBoxHandler SetInputBoxHandler(InputBoxHandler handler);

// The title that boxes carry by default (the program's name).
void SetProgramTitle(std::string title);
const std::string& ProgramTitle();

}  // namespace platform
