#include "server/program.h"

#include <QCoreApplication>
#include <cstdio>
#include <filesystem>

#include "platform/ui/command_input.h"
#include "platform/ui/console_frontend.h"
#include "platform/wave/wave.h"
#include "platform/window/msgbox.h"
#include "platform/window/paths.h"
#include "platform/window/signals.h"
#include "platform/window/version.h"
#include "server/StreamingVideo.h"

namespace tessaly {

namespace {

// The recordings' folder is made now, so that one that cannot be used stops the program before it serves.
bool CheckRecordingFolder(const WatchSettings& watch, std::string* error) {
    std::error_code code;
    std::filesystem::create_directories(watch.recorder.folder, code);
    if (!std::filesystem::is_directory(watch.recorder.folder, code)) {
        *error = "--record: cannot use " + watch.recorder.folder +
                 " for recordings: " + (code ? code.message() : std::string("it is not a folder"));
        return false;
    }
    return true;
}

// Loads record.so and hands its recorders to the watch.
bool LoadRecorder(platform::PluginLibrary* library, WatchSettings* watch, std::string* error) {
    std::string why;
    if (!library->Load(platform::PluginLibraryPath(TESSALY_LIBRARY_DIR, "record"), platform::SuiteVersion(),
                       &why)) {
        *error = "--record: recording needs the recorder (" + why + "; the package tessaly-record adds it)";
        return false;
    }
    auto make =
        reinterpret_cast<record::MakeEventRecorderEntry>(library->Entry(record::kMakeEventRecorderEntry));
    if (make == nullptr) {
        *error = std::string("--record: the recorder library has no ") + record::kMakeEventRecorderEntry;
        return false;
    }
    watch->make_recorder = [make](const record::RecorderSettings& settings,
                                  record::EventRecorder::ReportCallback report) {
        return std::unique_ptr<record::EventRecorder>(make(settings, std::move(report)));
    };
    return true;
}

}  // namespace

bool PrepareProgram(const Options& given, PreparedProgram* prepared, std::string* error) {
    prepared->options = given;
    const Options& options = prepared->options;
    platform::SetProgramTitle("Tessaly");
    if (!options.dir.empty()) {
        std::error_code ec;
        if (!std::filesystem::is_directory(options.dir, ec)) {
            *error = "--dir: " + options.dir + " is no folder";
            return false;
        }
        platform::SetProgramFolder(options.dir);
    }
    std::string why;
    if (!platform::SetWaveInBackend(options.audio_in, &why)) {
        *error = "--audio-in: " + why;
        return false;
    }
    if (!platform::SetWaveOutBackend(options.audio_out, &why)) {
        *error = "--audio-out: " + why;
        return false;
    }
    WatchSettings& watch = prepared->options.server.watch;
    if (!watch.record) return true;
    if (!record::CheckRecorderSettings(watch.recorder, &why)) {
        *error = "--record: " + why;
        return false;
    }
    return LoadRecorder(&prepared->recorder_library, &watch, error) && CheckRecordingFolder(watch, error);
}

int PrepareOrExit(const Options& options, PreparedProgram* prepared) {
    std::string error;
    if (PrepareProgram(options, prepared, &error)) return 0;
    std::fprintf(stderr, "tessaly: %s\n", error.c_str());
    return 2;
}

namespace {

void AddConsoleCommands(platform::ConsoleFrontend& console, StreamingVideo& sv) {
    console.AddCommand("server", "server   start serving (サーバー)", [&](const std::vector<std::string>&) {
        if (!sv.mnuServer().UserClick()) console.PrintLine("already serving");
    });
    console.AddCommand(
        "sec", "sec      flip the security mode (セキュリティモード)", [&](const std::vector<std::string>&) {
            sv.mnUSec().UserClick();
            console.PrintLine(sv.mnUSec().Checked() ? "security mode on" : "security mode off");
        });
    console.AddCommand(
        "drop", "drop N   drop the receiver in slot N", [&](const std::vector<std::string>& args) {
            int slot = 0;
            if (args.size() == 1) slot = std::atoi(args[0].c_str());
            const int most = sv.server().MaxClient;
            if (slot < 1 || slot > most) {
                console.PrintLine("drop needs a slot number from 1 to " + std::to_string(most));
            } else if (!sv.DropSlot(slot)) {
                console.PrintLine("no receiver listed in slot " + std::to_string(slot));
            }
        });
    console.AddCommand("quit", "quit     shut down and end (終了)",
                       [&](const std::vector<std::string>&) { sv.mnuEND().UserClick(); });
}

// Where the console's commands come from: --commands, else standard input unless the frames come there.
bool ChooseCommandInput(const Options& options, platform::CommandInput* input, std::string* error) {
    if (!options.commands.empty()) {
        if (input->Open(options.commands, error)) return true;
        *error = "--commands: " + *error;
        return false;
    }
    if (options.server.capture == "raw:-") {
        input->Close();
        std::fprintf(stderr, "tessaly: standard input carries the frames; no commands (see --commands)\n");
    }
    return true;
}

}  // namespace

int RunHeadless(const Options& options, int argc, char** argv) {
    QCoreApplication app(argc, argv);
    PreparedProgram prepared;
    if (const int status = PrepareOrExit(options, &prepared); status != 0) return status;
    platform::CommandInput commands;
    std::string error;
    if (!ChooseCommandInput(options, &commands, &error)) {
        std::fprintf(stderr, "tessaly: %s\n", error.c_str());
        return 2;
    }
    int status = 0;
    {
        StreamingVideo sv(prepared.options.server);
        sv.server().Capture.SetPreviewPainting(false);
        sv.Form_Load();
        platform::ConsoleFrontend console(sv.form(), commands.Fd());
        AddConsoleCommands(console, sv);
        platform::TerminationSignals termination([&](int) { sv.mnuEND().UserClick(); });
        console.Start();
        if (options.serve) sv.mnuServer().UserClick();
        std::fflush(stdout);
        if (!sv.form().Unloaded()) status = app.exec();
    }
    return status;
}

}  // namespace tessaly
