#include "server/options.h"

#include <QCommandLineParser>

#include "platform/capture/capture.h"
#include "platform/window/version.h"
#include "server/watch_options.h"

namespace tessaly {

namespace {

using platform::ParsePort;

// A port to listen on: 0 asks the system for a free one.
bool ParseListenPort(const QString& text, std::uint16_t* port) {
    if (text.trimmed() != "0") return ParsePort(text, port);
    *port = 0;
    return true;
}

// A whole number from low to high; false otherwise.
bool ParseNumber(const QString& text, int low, int high, int* number) {
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < low || value > high) return false;
    *number = value;
    return true;
}

constexpr int kMostViewers = 1000;

// The web face's options.
struct WebOptions {
    QCommandLineOption port{"http-port",
                            "Port of the web page and streams (default 8080; 0: off; any: a free port).", "N",
                            QString::number(web::kDefaultPort)};
    QCommandLineOption quality{"jpeg-quality", "JPEG quality of the web streams (1 to 100, default 80).", "Q",
                               QString::number(web::kDefaultJpegQuality)};
    QCommandLineOption viewers{"http-max-viewers", "Web streams open at once (default 20; then 503).", "N",
                               QString::number(web::kDefaultMaxViewers)};
    QCommandLineOption per_address{"http-per-address",
                                   "Web connections at once from one address (default 8).", "N",
                                   QString::number(web::kDefaultPerAddressLimit)};
    QCommandLineOption hosts{"http-host",
                             "Further names that web requests may carry in Host (beside IP addresses, "
                             "localhost, this machine's name and NAME.local); others get 421.",
                             "NAME[,NAME...]"};
    QCommandLineOption password_file{
        "http-password-file",
        "Ask web clients for the user name and password in FILE (one line USER:PASSWORD; send it over "
        "HTTPS: without TLS anyone on the network can read it).",
        "FILE"};
    QCommandLineOption certificate{"https-cert", "Serve the web face over HTTPS with this certificate (PEM).",
                                   "FILE"};
    QCommandLineOption key{"https-key", "The private key (PEM) of --https-cert.", "FILE"};
    QCommandLineOption self_signed{"https-self-signed",
                                   "Serve HTTPS with a self-signed certificate kept in DIR (made on first "
                                   "start; its SHA-256 fingerprint is printed at every start).",
                                   "DIR"};
    QList<QCommandLineOption> All() const {
        return {port, quality, viewers, per_address, hosts, password_file, certificate, key, self_signed};
    }
};

bool ParseTlsOptions(const QCommandLineParser& parser, const WebOptions& o, const std::string& bind,
                     web::Settings* web, std::string* error) {
    const bool given = parser.isSet(o.certificate) || parser.isSet(o.key);
    if (given && parser.isSet(o.self_signed)) {
        *error = "--https-self-signed cannot go with --https-cert and --https-key";
        return false;
    }
    if (given && !(parser.isSet(o.certificate) && parser.isSet(o.key))) {
        *error = "--https-cert and --https-key go together";
        return false;
    }
    if (given) {
        return web::LoadTlsIdentity(parser.value(o.certificate).toStdString(),
                                    parser.value(o.key).toStdString(), &web->tls, error);
    }
    if (!parser.isSet(o.self_signed)) return true;
    std::vector<std::string> names = web->host_names;
    if (!bind.empty()) names.push_back(bind);
    return web::SelfSignedTlsIdentity(parser.value(o.self_signed).toStdString(), names, &web->tls,
                                      &web->tls_made_now, error);
}

// The web face's options; false with *error set when one is wrong.
bool ParseWebOptions(const QCommandLineParser& parser, const WebOptions& o, const std::string& bind,
                     web::Settings* web, bool* any_port, std::string* error) {
    int number = 0;
    *any_port = parser.value(o.port) == "any";
    if (!*any_port && !ParseNumber(parser.value(o.port), 0, 65535, &number)) {
        *error = "bad HTTP port '" + parser.value(o.port).toStdString() +
                 "' (0 to 65535, or any for a free port; 0 turns the web page off)";
        return false;
    }
    web->port = static_cast<std::uint16_t>(number);
    if (!ParseNumber(parser.value(o.quality), 1, 100, &web->jpeg_quality)) {
        *error = "bad JPEG quality '" + parser.value(o.quality).toStdString() + "' (1 to 100)";
        return false;
    }
    if (!ParseNumber(parser.value(o.viewers), 1, kMostViewers, &web->max_viewers)) {
        *error = "bad number of web viewers '" + parser.value(o.viewers).toStdString() + "' (1 to " +
                 std::to_string(kMostViewers) + ")";
        return false;
    }
    if (!ParseNumber(parser.value(o.per_address), 1, kMostViewers, &web->per_address_limit)) {
        *error = "bad number of web connections per address '" + parser.value(o.per_address).toStdString() +
                 "' (1 to " + std::to_string(kMostViewers) + ")";
        return false;
    }
    for (const QString& name : parser.values(o.hosts).join(',').split(',', Qt::SkipEmptyParts))
        web->host_names.push_back(name.trimmed().toStdString());
    if (parser.isSet(o.password_file) &&
        !web::LoadPasswordFile(parser.value(o.password_file).toStdString(), &web->credentials, error)) {
        return false;
    }
    return ParseTlsOptions(parser, o, bind, web, error);
}

}  // namespace

ParseOutcome ParseOptions(const QStringList& arguments, Options* options, std::string* out,
                          std::string* error) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Tessaly V1.10: serves the captured picture and sound to up to 10 receivers.\n"
        "Capture sources: " +
        QString::fromUtf8(platform::CaptureSourceHelp()));
    const QCommandLineOption help({"h", "help"}, "Show this help.");
    const QCommandLineOption headless("headless",
                                      "Run without a window: status lines on stdout, commands "
                                      "on stdin (server, sec, drop N, quit).");
    const QCommandLineOption serve("serve", "Start serving at once (as choosing \"サーバー\").");
    const QCommandLineOption capture("capture", "Picture source: auto, testpattern, v4l2[:DEV], raw:PATH.",
                                     "SRC", "auto");
    const QCommandLineOption audio_in(
        "audio-in", "Sound input: auto, alsa[:NAME], tone[:HZ], file:PATH.wav, none.", "SRC", "auto");
    const QCommandLineOption audio_out(
        "audio-out", "Output of the chime and alarm: auto, alsa[:NAME], null, none.", "SINK", "auto");
    const QCommandLineOption bind("bind", "Listen on this address instead of the machine's own.", "ADDR");
    const QCommandLineOption video_port("video-port", "Port of the video connections (0: a free port).", "N",
                                        "8001");
    const QCommandLineOption sound_port("sound-port", "Port of the sound connections (0: a free port).", "N",
                                        "8002");
    const QCommandLineOption port_file(
        "port-file",
        "Once listening, write the ports to FILE: lines video=N, sound=N and http=N (0: web page off).",
        "FILE");
    const QCommandLineOption dir(
        "dir",
        QString("Folder of stream.wav and danger.wav (default: the program's); a file "
                "missing there is taken from the package's share folder (/usr/share/") +
            platform::PackageName() + " when installed).",
        "DIR");
    const QCommandLineOption allow(
        "allow",
        "Who may connect: comma-separated IPv4 addresses and ranges (a.b.c.d/n), or any. Default: this "
        "machine and the private networks (127.0.0.0/8, 10.0.0.0/8, 172.16.0.0/12, 192.168.0.0/16, "
        "169.254.0.0/16).",
        "LIST");
    const QCommandLineOption resend_frames(
        "resend-frames",
        "Answer every frame request at once, even when that receiver has the picture already.");
    const QCommandLineOption commands(
        "commands",
        "With --headless, read the commands from FILE (a file or FIFO) instead of standard input. With "
        "--capture raw:- standard input carries the frames, so commands come only from here.",
        "FILE");
    const WebOptions web_options;
    parser.addOptions({help, headless, commands, serve, capture, audio_in, audio_out, bind, video_port,
                       sound_port, dir, allow, resend_frames, port_file});
    parser.addOptions(web_options.All());
    AddWatchOptions(&parser);
    const QCommandLineOption version = parser.addVersionOption();

    if (!parser.parse(arguments)) {
        *error = parser.errorText().toStdString();
        return ParseOutcome::kError;
    }
    if (parser.isSet(help)) {
        *out = parser.helpText().replace("<executable_name>", "tessaly").toStdString();
        return ParseOutcome::kExitOk;
    }
    if (parser.isSet(version)) {
        *out = std::string("tessaly ") + platform::SuiteVersion() + "\n";
        return ParseOutcome::kExitOk;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *error = "unexpected argument '" + parser.positionalArguments().first().toStdString() + "'";
        return ParseOutcome::kError;
    }
    options->headless = parser.isSet(headless);
    options->serve = parser.isSet(serve);
    options->server.capture = parser.value(capture).toStdString();
    options->audio_in = parser.value(audio_in).toStdString();
    options->audio_out = parser.value(audio_out).toStdString();
    options->server.bind = parser.value(bind).toStdString();
    options->dir = parser.value(dir).toStdString();
    options->commands = parser.value(commands).toStdString();
    options->server.resend_frames = parser.isSet(resend_frames);
    options->server.port_file = parser.value(port_file).toStdString();
    if (parser.isSet(allow)) {
        auto list = AllowList::Parse(parser.value(allow).toStdString(), error);
        if (!list) return ParseOutcome::kError;
        options->server.allow = std::move(*list);
    }
    if (!ParseListenPort(parser.value(video_port), &options->server.video_port)) {
        *error = "bad video port '" + parser.value(video_port).toStdString() +
                 "' (1 to 65535, or 0 for a free port)";
        return ParseOutcome::kError;
    }
    if (!ParseListenPort(parser.value(sound_port), &options->server.sound_port)) {
        *error = "bad sound port '" + parser.value(sound_port).toStdString() +
                 "' (1 to 65535, or 0 for a free port)";
        return ParseOutcome::kError;
    }
    if (options->server.video_port != 0 && options->server.video_port == options->server.sound_port) {
        *error = "the video and sound ports must differ";
        return ParseOutcome::kError;
    }
    if (!ParseWebOptions(parser, web_options, options->server.bind, &options->server.web,
                         &options->server.web_on_any_port, error)) {
        return ParseOutcome::kError;
    }
    const std::uint16_t web_port = options->server.web.port;
    if (web_port != 0 && (web_port == options->server.video_port || web_port == options->server.sound_port)) {
        *error = "the HTTP port must differ from the video and sound ports";
        return ParseOutcome::kError;
    }
    WatchSettings& watch = options->server.watch;
    if (!ReadWatchOptions(parser, &watch, error)) return ParseOutcome::kError;
    watch.recorder.fps = options->server.fps;
    watch.recorder.with_sound = options->audio_in != "none";
    if (watch.record) options->server.web.recordings_folder = watch.recorder.folder;
    return ParseOutcome::kRun;
}

}  // namespace tessaly
