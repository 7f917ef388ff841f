// What tessaly's two front-ends share: applying the command line to the platform layer, and the run of the
// main window with a window (gui_program.cpp, the front-end library window.so that the program loads) or
// without one.
#pragma once

#include "server/options.h"

namespace tessaly {

// Applies --dir, --audio-in and --audio-out; false after telling the user what is wrong.
bool PrepareProgram(const Options& options);
// Releases the server's instances while the event loop's objects still exist.
void EndProgram();

int RunHeadless(const Options& options, int argc, char** argv);

// The window library's entry point: runs the server with its window until it ends, returns the exit status.
using RunWithWindowEntry = int (*)(const Options& options, int argc, char** argv);
inline constexpr const char* kRunWithWindow = "tessaly_run_with_window";

}  // namespace tessaly
