// The command line of tessaly:
//   tessaly [--headless] [--serve] [--capture SRC] [--audio-in SRC] [--audio-out SINK] [--bind ADDR]
//           [--video-port N] [--sound-port N] [--dir DIR] [--allow LIST] [--resend-frames]
//           [--port-file FILE] [--http-port N] [--jpeg-quality Q] [--http-max-viewers N]
//           [--http-per-address N] [--http-host NAME[,NAME...]] [--http-password-file FILE]
//           [--https-cert FILE --https-key FILE | --https-self-signed DIR] [--commands FILE]
//           [--motion] [--motion-threshold N|P%] [--motion-frames N] [--motion-despeckle on|off]
//           [--motion-lightswitch P] [--motion-mask FILE] [--event-gap S] [--motion-alarm]
//           [--on-event-start CMD] [--on-event-end CMD]
//           [--record DIR] [--pre-capture S] [--post-capture S] [--record-max-mb N] [--record-max-days N]
#pragma once

#include <QStringList>
#include <string>

#include "platform/window/command_line.h"
#include "server/server_settings.h"

namespace tessaly {

struct Options {
    bool headless = false;
    bool serve = false;
    std::string audio_in = "auto";
    std::string audio_out = "auto";
    std::string dir;
    std::string commands;  // --headless: the file or FIFO of the console's commands; empty: standard input
    ServerSettings server;
};

using ParseOutcome = platform::ParseOutcome;

// Parses arguments (the program's name first). --help and --version put their text into *out; errors go to
// *error as one line for the user.
ParseOutcome ParseOptions(const QStringList& arguments, Options* options, std::string* out,
                          std::string* error);

}  // namespace tessaly
