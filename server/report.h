// One-line reports of what the server decides about a peer on its own (a stranger turned away, a receiver
// dropped for falling behind): standard error by default; tests install a watcher. Window thread only.
#pragma once

#include <functional>
#include <string>

namespace tessaly {

class Reporter {
  public:
    using Watcher = std::function<void(const std::string&)>;

    void Report(const std::string& line) const;
    // Where the lines go instead of standard error; an empty function restores that.
    void SetWatcher(Watcher watcher) { watcher_ = std::move(watcher); }

  private:
    Watcher watcher_;
};

}  // namespace tessaly
