// The command line of tessaly:
//   tessaly [--headless] [--serve] [--capture SRC] [--audio-in SRC] [--audio-out SINK] [--bind ADDR]
//           [--video-port N] [--sound-port N] [--dir DIR] [--allow LIST] [--resend-frames]
//           [--http-port N] [--jpeg-quality Q] [--http-max-viewers N] [--http-password-file FILE]
#pragma once

#include <QStringList>
#include <string>

#include "platform/window/command_line.h"
#include "server/StreamingVideo.h"

namespace tessaly {

struct Options {
    bool headless = false;
    bool serve = false;
    std::string audio_in = "auto";
    std::string audio_out = "auto";
    std::string dir;
    ServerSettings server;
};

using ParseOutcome = platform::ParseOutcome;

// Parses arguments (the program's name first). --help and --version print their text to out; errors go to
// *error as one line for the user.
ParseOutcome ParseOptions(const QStringList& arguments, Options* options, std::string* error,
                          std::string* out);

// True when the arguments ask for --headless (read before the application object exists).
bool WantsHeadless(int argc, char** argv);

}  // namespace tessaly
