// What every program's command line shares: the outcome of parsing one, and the reading of a port number.
#pragma once

#include <QString>
#include <cstdint>

namespace platform {

// What a program does after its command line: run, end at once with status 0 (--help, --version), or end
// with an error line.
enum class ParseOutcome { kRun, kExitOk, kError };

// A port option's value into *port; false (and *port untouched) when it is no whole number from 1 to 65535.
bool ParsePort(const QString& text, std::uint16_t* port);

}  // namespace platform
