// quillon: the single-server receiver.
#include <cstdio>

#include "receiver/quillon_window.h"
#include "receiver/receiver_app.h"

namespace {

std::string SecondLine(const receiver::QuillonWindow& w, long& frames_before) {
    const long frames = w.Stats().Frames();
    const receiver::FrameStats::Latency latency = w.Stats().Summary();
    char line[160];
    std::snprintf(line, sizeof line, "frames/s %ld  sound queue %d  latency median %.2f ms  p99 %.2f ms",
                  frames - frames_before, w.SoundQueueDepth(), latency.median_ms, latency.p99_ms);
    frames_before = frames;
    return line;
}

void AddCommands(receiver::ReceiverRunner& runner, receiver::QuillonWindow& w) {
    runner.AddCommand("connect", "connect      choose 接続 (or 切断 once connected)",
                      [&w](const auto&) { w.mnuConnect.UserClick(); });
    runner.AddCommand("alarm", "alarm        send the alarm request (警告)",
                      [&w](const auto&) { w.mnu_Danger.UserClick(); });
    runner.AddCommand("snap", "snap         write the next picture to PICTUTE.BMP (撮影)", [&w](const auto&) {
        if (!w.Command3.UserClick()) std::fprintf(stderr, "quillon: snap needs a connection\n");
    });
    runner.AddCommand("size", "size 0|1     picture size 640X480 (0) or 320X240 (1)", [&w](const auto& args) {
        if (args.size() != 1 || (args[0] != "0" && args[0] != "1")) {
            std::fprintf(stderr, "quillon: usage: size 0|1\n");
            return;
        }
        w.Combo1.UserSelect(args[0] == "0" ? 0 : 1);
    });
    runner.AddCommand("quit", "quit         disconnect and end", [&w](const auto&) { w.Quit(); });
}

}  // namespace

int main(int argc, char** argv) {
    std::string server;
    receiver::RawOut raw_out;
    std::string raw_path;
    bool connect = false;
    receiver::ReceiverStart start{
        "quillon",
        "Quillon",
        "Quillon, the single-server receiver: shows and plays what one server sends.\n"
        "Without a window, standard input takes: connect, alarm, snap, size 0|1, quit.",
        {
            {"connect",
             "Choose 接続 at start, with the server that --server or init.txt's first item names "
             "(without one, nothing is connected)."},
            {"server", "Use this server instead of init.txt's first item, for this run.", "HOST"},
            {"raw-out",
             "Write every decoded picture as raw BGR24 320x240, top-down, to PATH (- : standard output).",
             "PATH"},
        },
        {},
        {}};
    start.parse = [&](const QCommandLineParser& parser, std::string* error) {
        connect = parser.isSet("connect");
        raw_path = parser.value("raw-out").toStdString();
        return receiver::ParseServer(parser, "server", server, error) &&
               (raw_path.empty() || raw_out.Open(raw_path, error));
    };
    start.run = [&](const receiver::CommonOptions& options, bool windows) {
        receiver::QuillonWindow window(options.ports);
        window.SetRawOut(&raw_out);
        window.SetServer(server);
        window.SetReconnect(options.reconnect);
        receiver::ReceiverRunner runner(window.GetForm(), windows, raw_path == "-" ? stderr : stdout);
        AddCommands(runner, window);
        long frames_before = 0;
        runner.PrintEverySecond([&] { return SecondLine(window, frames_before); });
        runner.OnTerminationSignal([&window] { window.Quit(); });

        window.Form_Load();
        if (connect) {
            // Only a server that is named: the window's built-in default address is for the user's own 接続.
            if (window.NamedServer().empty()) {
                std::fprintf(stderr, "quillon: %s\n",
                             receiver::NoServerNamedText("", "first", "--server").c_str());
            } else {
                window.mnuConnect.UserClick();
            }
        }
        const int status = runner.Run();
        const receiver::FrameStats::Latency latency = window.Stats().Summary();
        runner.PrintLine("frames " + std::to_string(window.Stats().Frames()) + "  latency median " +
                         std::to_string(latency.median_ms) + " ms  p99 " + std::to_string(latency.p99_ms) +
                         " ms");
        return status;
    };
    return receiver::RunReceiver(argc, argv, start);
}
