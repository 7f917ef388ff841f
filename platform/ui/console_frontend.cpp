#include "platform/ui/console_frontend.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "platform/ui/controls.h"

namespace platform {
namespace {

constexpr std::size_t kMaxLine = 64 * 1024;

std::vector<std::string> SplitWords(std::string_view line) {
    std::vector<std::string> words;
    std::istringstream in{std::string(line)};
    std::string w;
    while (in >> w) words.push_back(std::move(w));
    return words;
}

}  // namespace

ConsoleFrontend::ConsoleFrontend(Form& form, int input_fd, std::FILE* out, std::FILE* err)
    : form_(form), input_fd_(input_fd), out_(out), err_(err), context_(std::make_unique<QObject>()) {
    WatchControls();
    form_subscription_ = form_.Subscribe([this](Property what) {
        if (what != Property::kUnloaded || !quit_on_unload_) return;
        if (QCoreApplication::instance() != nullptr) {
            QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                                      Qt::QueuedConnection);
        }
    });
}

ConsoleFrontend::~ConsoleFrontend() {
    for (auto& [control, id] : subscriptions_) control->Unsubscribe(id);
    form_.Unsubscribe(form_subscription_);
}

void ConsoleFrontend::WatchControls() {
    for (const auto& c : form_.Controls()) {
        if (auto* box = dynamic_cast<TextBox*>(c.get())) {
            // Whether a box is a status line is looked at when it changes, so marking it later still counts.
            const int id = box->Subscribe([this, box](Property what) {
                if (what != Property::kText || !box->IsStatus() || box->Text().empty()) return;
                PrintLine(box->StatusLabel().empty() ? box->Text() : box->StatusLabel() + ": " + box->Text());
            });
            subscriptions_.emplace_back(box, id);
        } else if (auto* list = dynamic_cast<ListBox*>(c.get())) {
            const int id = list->Subscribe([this, list](Property what) {
                if (what == Property::kItems) ListChanged(list);
            });
            subscriptions_.emplace_back(list, id);
        }
    }
}

void ConsoleFrontend::ListChanged(ListBox* list) {
    if (std::find(dirty_lists_.begin(), dirty_lists_.end(), list) != dirty_lists_.end()) return;
    dirty_lists_.push_back(list);
    if (dirty_lists_.size() == 1) QTimer::singleShot(0, context_.get(), [this] { PrintDirtyLists(); });
}

void ConsoleFrontend::PrintDirtyLists() {
    std::vector<ListBox*> lists;
    lists.swap(dirty_lists_);
    for (ListBox* list : lists) {
        for (const std::string& row : list->Items()) PrintLine(row);
    }
}

void ConsoleFrontend::PrintLine(std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
}

void ConsoleFrontend::AddCommand(std::string word, std::string usage, CommandHandler handler) {
    commands_.push_back(Command{std::move(word), std::move(usage), std::move(handler)});
}

void ConsoleFrontend::Start() {
    if (started_) return;
    started_ = true;
    if (fcntl(input_fd_, F_GETFD) >= 0) {
        notifier_ = std::make_unique<QSocketNotifier>(input_fd_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { ReadInput(); });
    } else {
        input_ended_ = true;  // no input at all: the program runs on until it is told to end otherwise
    }
    form_.Activate();
}

void ConsoleFrontend::ReadInput() {
    char buf[4096];
    const ssize_t n = ::read(input_fd_, buf, sizeof buf);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n <= 0) {
        // End of input (or an unreadable one): stop watching it, so the loop does not spin on it.
        notifier_->setEnabled(false);
        input_ended_ = true;
        if (!pending_.empty() && !discarding_) Dispatch(std::exchange(pending_, {}));
        return;
    }
    pending_.append(buf, static_cast<std::size_t>(n));
    std::size_t start = 0;
    for (std::size_t nl; (nl = pending_.find('\n', start)) != std::string::npos; start = nl + 1) {
        if (std::exchange(discarding_, false)) continue;  // the rest of an overlong line
        std::string line = pending_.substr(start, nl - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        Dispatch(line);
    }
    pending_.erase(0, start);
    if (pending_.size() > kMaxLine) {
        if (!discarding_) {
            std::fprintf(err_, "input line longer than %zu bytes ignored\n", kMaxLine);
            std::fflush(err_);
        }
        discarding_ = true;
        pending_.clear();
    }
}

bool ConsoleFrontend::Dispatch(std::string_view line) {
    std::vector<std::string> words = SplitWords(line);
    if (words.empty()) return true;
    if (words[0] == "help") {
        ShowHelp();
        return true;
    }
    for (const Command& c : commands_) {
        if (c.word != words[0]) continue;
        words.erase(words.begin());
        CommandHandler handler = c.handler;  // the handler may add commands while it runs
        handler(words);
        return true;
    }
    std::fprintf(err_, "unknown command \"%s\"; \"help\" lists the commands\n", words[0].c_str());
    std::fflush(err_);
    return false;
}

void ConsoleFrontend::ShowHelp() {
    PrintLine("commands:");
    for (const Command& c : commands_) PrintLine("  " + c.usage);
    PrintLine("  help");
}

bool HaveDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return true;
    }
    return false;
}

}  // namespace platform
