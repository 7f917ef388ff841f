#include "platform/window/signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <csignal>

namespace platform {
namespace {

// The self-pipe: the signal handler only writes the signal's number into it.
int g_pipe[2] = {-1, -1};
std::atomic<int> g_received{0};
struct sigaction g_previous_int {};
struct sigaction g_previous_term {};

extern "C" void OnSignal(int signal) {
    if (g_received.fetch_add(1) >= 1) {
        // Asked again while the first request is still being handled: end now.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

TerminationSignals::TerminationSignals(std::function<void(int signal)> handler)
    : handler_(std::move(handler)) {
    if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;  // no pipe: the default actions stay
    g_received = 0;
    notifier_ = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { Drain(); });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &g_previous_int);
    sigaction(SIGTERM, &action, &g_previous_term);
}

TerminationSignals::~TerminationSignals() {
    if (!notifier_) return;
    sigaction(SIGINT, &g_previous_int, nullptr);
    sigaction(SIGTERM, &g_previous_term, nullptr);
    notifier_.reset();
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void TerminationSignals::Drain() {
    unsigned char byte = 0;
    while (::read(g_pipe[0], &byte, 1) == 1) {
        if (handler_) handler_(byte);
    }
}

}  // namespace platform
