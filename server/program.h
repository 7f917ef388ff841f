// What tessaly's two front-ends share: applying the command line to the platform layer, and the run of the
// main window with a window (gui_program.cpp, the front-end library window.so that the program loads) or
// without one.
#pragma once

#include "platform/plugin/plugin.h"
#include "server/options.h"

namespace tessaly {

// The command line as the program runs it, with the recorder's library (record.so) loaded when --record
// asks for recording; it lives as long as the server.
struct PreparedProgram {
    Options options;
    platform::PluginLibrary recorder_library;
};

// Applies --dir, --audio-in and --audio-out, and with --record makes the recordings' folder and loads the
// recorder's library; false, with one line for the user in *error, when one is wrong.
bool PrepareProgram(const Options& options, PreparedProgram* prepared, std::string* error);
// PrepareProgram, printing its error; the exit status when the program cannot run, else 0.
int PrepareOrExit(const Options& options, PreparedProgram* prepared);
int RunHeadless(const Options& options, int argc, char** argv);

// The window library's entry point: runs the server with its window until it ends, returns the exit status.
using RunWithWindowEntry = int (*)(const Options& options, int argc, char** argv);
inline constexpr const char* kRunWithWindow = "tessaly_run_with_window";

}  // namespace tessaly
