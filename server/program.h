// What tessaly's two front-ends share: applying the command line to the platform layer, and the run of the
// main window with a window (gui_program.cpp, built with the Qt Widgets front-end) or without one.
#pragma once

#include "server/options.h"

namespace tessaly {

// Applies --dir, --audio-in and --audio-out; false, with one line for the user in *error, when one is wrong.
bool PrepareProgram(const Options& options, std::string* error);
// PrepareProgram, printing its error; the exit status when the program cannot run, else 0.
int PrepareOrExit(const Options& options);
int RunHeadless(const Options& options, int argc, char** argv);
// False when the build has no window front-end.
bool HaveWindowFrontend();
int RunWithWindow(const Options& options, int argc, char** argv);

}  // namespace tessaly
