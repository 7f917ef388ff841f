// The command-line options of Tessaly's watching (--motion, its tuning, the event hooks, --record and its
// limits): their help texts and how their values are read and checked.
#pragma once

#include <QCommandLineParser>
#include <string>

#include "server/watch_settings.h"

namespace tessaly {

// Adds the watching options to the parser.
void AddWatchOptions(QCommandLineParser* parser);
// Reads them after parsing; false with one line in *error for a bad value, an unreadable mask or a tuning
// option given without --motion or --record.
bool ReadWatchOptions(const QCommandLineParser& parser, WatchSettings* watch, std::string* error);

}  // namespace tessaly
