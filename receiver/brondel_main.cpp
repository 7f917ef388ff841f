// brondel: the two-server receiver.
#include <array>
#include <cstdio>
#include <memory>

#include "receiver/brondel_window.h"
#include "receiver/receiver_app.h"

namespace {

// "1" or "2" as a server index; -1 otherwise (and a usage line on standard error).
int ServerArgument(const std::vector<std::string>& args, const char* usage) {
    if (args.size() == 1 && (args[0] == "1" || args[0] == "2")) return args[0] == "1" ? 0 : 1;
    std::fprintf(stderr, "brondel: usage: %s\n", usage);
    return -1;
}

std::string SecondLine(const receiver::BrondelWindow& w, std::array<long, 2>& before) {
    char line[200];
    const receiver::FrameStats::Latency latency = w.Stats().Summary();
    std::snprintf(line, sizeof line,
                  "server 1 frames/s %ld  server 2 frames/s %ld  sound queue %d  latency median %.2f ms",
                  w.FramesOf(0) - before[0], w.FramesOf(1) - before[1], w.SoundQueueDepth(),
                  latency.median_ms);
    before = {w.FramesOf(0), w.FramesOf(1)};
    return line;
}

bool ParseItemOptions(const QCommandLineParser& parser, receiver::BrondelWindow::ItemOptions& items,
                      std::string* error) {
    if (!receiver::ParseServer(parser, "server1", items.servers[0], error) ||
        !receiver::ParseServer(parser, "server2", items.servers[1], error))
        return false;
    if (!parser.isSet("interval")) return true;
    bool ok = false;
    items.interval_ms = parser.value("interval").toInt(&ok);
    if (ok && items.interval_ms >= 1 && items.interval_ms <= 60000) return true;
    *error = "bad interval '" + parser.value("interval").toStdString() + "' (1 to 60000 ms)";
    return false;
}

// --connect: server i when it is named; the user's own 接続 takes whatever the address box holds.
void ConnectNamed(receiver::BrondelWindow& w, int i) {
    if (!w.NamedServer(i).empty()) {
        w.mnuCon[i]->UserClick();
        return;
    }
    const std::string text = i == 0 ? receiver::NoServerNamedText(" for server 1", "first", "--server1")
                                    : receiver::NoServerNamedText(" for server 2", "second", "--server2");
    std::fprintf(stderr, "brondel: %s\n", text.c_str());
}

void AddCommands(receiver::ReceiverRunner& runner, receiver::BrondelWindow& w) {
    runner.AddCommand("connect", "connect 1|2   choose 接続1 / 接続2 (or 切断1 / 切断2)",
                      [&w](const auto& args) {
                          const int i = ServerArgument(args, "connect 1|2");
                          if (i >= 0) w.mnuCon[i]->UserClick();
                      });
    runner.AddCommand("sound", "sound 1|2     play server 1's or server 2's sound (音声１ / 音声２)",
                      [&w](const auto& args) {
                          const int i = ServerArgument(args, "sound 1|2");
                          if (i >= 0) w.Option1[i]->UserChoose();
                      });
    runner.AddCommand("alarm", "alarm         send the alarm request (警告)",
                      [&w](const auto&) { w.mnu_Danger.UserClick(); });
    runner.AddCommand("snap", "snap 1|2      write server 1's or 2's next picture to PICTUTE0/1.BMP (撮影)",
                      [&w](const auto& args) {
                          const int i = ServerArgument(args, "snap 1|2");
                          if (i >= 0 && !w.Command3[i]->UserClick())
                              std::fprintf(stderr, "brondel: snap %d needs a connection\n", i + 1);
                      });
    runner.AddCommand("quit", "quit          disconnect and end", [&w](const auto&) { w.Quit(); });
}

// Reads --connect, the item options and the raw outputs.
bool ParseOwnOptions(const QCommandLineParser& parser, QString& connect,
                     receiver::BrondelWindow::ItemOptions& items, std::array<receiver::RawOut, 2>& raw_out,
                     std::string* error) {
    connect = parser.value("connect");
    if (parser.isSet("connect") && connect != "1" && connect != "2" && connect != "both") {
        *error = "--connect takes 1, 2 or both";
        return false;
    }
    if (!ParseItemOptions(parser, items, error)) return false;
    for (int i = 0; i < 2; ++i) {
        const std::string path = parser.value(i == 0 ? "raw-out1" : "raw-out2").toStdString();
        if (!path.empty() && !raw_out[i].Open(path, error)) return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QString connect;
    receiver::BrondelWindow::ItemOptions items;
    std::array<receiver::RawOut, 2> raw_out;
    bool raw_to_stdout = false;
    receiver::ReceiverStart start{
        "brondel",
        "Brondel",
        "Brondel, the two-server receiver: shows two servers side by side and plays the sound of one.\n"
        "Without a window, standard input takes: connect 1|2, sound 1|2, alarm, snap 1|2, quit.",
        {
            {"connect",
             "Choose 接続1, 接続2 or both at start (addresses: --server1/--server2 or init.txt's first two "
             "items; a server that neither names is not connected).",
             "1|2|both"},
            {"server1", "Use this server 1 instead of init.txt's first item, for this run.", "HOST"},
            {"server2", "Use this server 2 instead of init.txt's second item, for this run.", "HOST"},
            {"interval",
             "Timer1's interval in ms (1 to 60000) instead of init.txt's third item, for this run.", "MS"},
            {"raw-out1", "Write server 1's decoded pictures as raw BGR24 320x240, top-down, to PATH.",
             "PATH"},
            {"raw-out2", "The same for server 2.", "PATH"},
        },
        {},
        {}};
    start.parse = [&](const QCommandLineParser& parser, std::string* error) {
        raw_to_stdout = parser.value("raw-out1") == "-" || parser.value("raw-out2") == "-";
        return ParseOwnOptions(parser, connect, items, raw_out, error);
    };
    start.run = [&](const receiver::CommonOptions& options, bool windows) {
        auto window = std::make_unique<receiver::BrondelWindow>(options.ports);
        for (int i = 0; i < 2; ++i) window->SetRawOut(i, &raw_out[i]);
        window->SetItemOptions(items);
        window->SetReconnect(options.reconnect);
        receiver::ReceiverRunner runner(window->GetForm(), windows, raw_to_stdout ? stderr : stdout);
        AddCommands(runner, *window);
        std::array<long, 2> before{};
        runner.PrintEverySecond([&] { return SecondLine(*window, before); });
        runner.OnTerminationSignal([&window] { window->Quit(); });

        window->Form_Load();
        if (connect == "1" || connect == "both") ConnectNamed(*window, 0);
        if (connect == "2" || connect == "both") ConnectNamed(*window, 1);
        return runner.Run();
    };
    return receiver::RunReceiver(argc, argv, start);
}
