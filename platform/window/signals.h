// SIGINT and SIGTERM as a call on the window thread: the programs map them to their Exit command, so that
// Ctrl-C or a service manager ends them with the same orderly shutdown. A second signal ends the program at
// once in the usual way, should that shutdown hang.
#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace platform {

class TerminationSignals {
  public:
    // Installs the handlers; handler(signal number) runs on the thread that creates this object. Only one
    // instance may exist at a time.
    explicit TerminationSignals(std::function<void(int signal)> handler);
    // Puts the previous handlers back.
    ~TerminationSignals();
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

  private:
    void Drain();
    std::function<void(int)> handler_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace platform
