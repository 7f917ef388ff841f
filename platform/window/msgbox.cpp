#include "platform/window/msgbox.h"

#include <cstdio>

namespace platform {
namespace {

MessageBoxHandler& Handler() {
    static MessageBoxHandler handler;
    return handler;
}

MessageBoxYesNoHandler& YesNoHandler() {
    static MessageBoxYesNoHandler handler;
    return handler;
}

MessageBoxOkCancelHandler& OkCancelHandler() {
    static MessageBoxOkCancelHandler handler;
    return handler;
}

InputBoxHandler& InputHandler() {
    static InputBoxHandler handler;
    return handler;
}

std::string& Title() {
    static std::string title;
    return title;
}

}  // namespace

void MessageBox(std::string_view text, std::string_view title) {
    std::string t(title.empty() ? std::string_view(Title()) : title);
    std::string s(text);
    if (Handler()) {
        MessageBoxHandler h = Handler();  // a handler may replace itself while it runs
        h(s, t);
        return;
    }
    if (t.empty()) {
        std::fprintf(stderr, "%s\n", s.c_str());
    } else {
        std::fprintf(stderr, "%s: %s\n", t.c_str(), s.c_str());
    }
    std::fflush(stderr);
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    MessageBoxHandler previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}

MsgBoxResult MessageBoxOkCancel(std::string_view text, std::string_view title) {
    if (!OkCancelHandler()) {
        MessageBox(text, title);
        return MsgBoxResult::kOk;
    }
    std::string t(title.empty() ? std::string_view(Title()) : title);
    MessageBoxOkCancelHandler h = OkCancelHandler();
    return h(std::string(text), t);
}

bool MessageBoxYesNo(std::string_view text, std::string_view title) {
    if (!YesNoHandler()) return MessageBoxOkCancel(text, title) == MsgBoxResult::kOk;
    std::string t(title.empty() ? std::string_view(Title()) : title);
    MessageBoxYesNoHandler h = YesNoHandler();
    return h(std::string(text), t);
}

MessageBoxYesNoHandler SetMessageBoxYesNoHandler(MessageBoxYesNoHandler handler) {
    MessageBoxYesNoHandler previous = std::move(YesNoHandler());
    YesNoHandler() = std::move(handler);
    return previous;
}

MessageBoxOkCancelHandler SetMessageBoxOkCancelHandler(MessageBoxOkCancelHandler handler) {
    MessageBoxOkCancelHandler previous = std::move(OkCancelHandler());
    OkCancelHandler() = std::move(handler);
    return previous;
}

std::optional<std::string> InputBox(std::string_view prompt, std::string_view initial) {
    if (!InputHandler()) return std::nullopt;
    InputBoxHandler h = InputHandler();
    return h(std::string(prompt), Title(), std::string(initial));
}

bool CanAskForInput() {
    return static_cast<bool>(InputHandler());
}

InputBoxHandler SetInputBoxHandler(InputBoxHandler handler) {
    InputBoxHandler previous = std::move(InputHandler());
    InputHandler() = std::move(handler);
    return previous;
}

void SetProgramTitle(std::string title) {
    Title() = std::move(title);
}
const std::string& ProgramTitle() {
    return Title();
}

}  // namespace platform
