// One-line reports of what the server decides about a peer on its own (a stranger turned away, a receiver
// dropped for falling behind): standard error by default; tests install a watcher. Window thread only.
#pragma once

#include <functional>
#include <string>

namespace tessaly {

void Report(const std::string& line);
// Where the lines go instead of standard error; an empty function restores that.
void SetReporter(std::function<void(const std::string&)> reporter);

}  // namespace tessaly
