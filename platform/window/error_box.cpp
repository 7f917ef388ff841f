#include "platform/window/error_box.h"

#include "platform/window/msgbox.h"

namespace platform {

ErrorBox::ErrorBox() {
    timer_.SetHandler([this] { SecondOver(); });
}

void ErrorBox::Report(const std::string& description) {
    const bool repeated = timer_.Running() && description == last_shown_;
    if (!open_ && !repeated) {
        last_shown_ = description;
        Show(description);
        return;
    }
    ++suppressed_;
    pending_mixed_ = pending_mixed_ || (pending_ > 0 && description != pending_text_);
    pending_text_ = description;
    ++pending_;
}

void ErrorBox::SecondOver() {
    if (open_) return;  // the summary waits for the box on screen
    if (pending_ == 0) {
        timer_.SetInterval(0);
        return;
    }
    const std::string count = std::to_string(pending_);
    const std::string summary =
        pending_text_ + (pending_mixed_ ? "(ほかのエラーと合わせてさらに " : "(さらに ") + count + " 回)";
    pending_ = 0;
    pending_mixed_ = false;
    Show(summary);
}

void ErrorBox::Show(const std::string& text) {
    open_ = true;
    ++shown_;
    platform::MessageBox(text);
    open_ = false;
    timer_.SetInterval(kSummaryIntervalMs);  // the second counts from the box's end
}

}  // namespace platform
