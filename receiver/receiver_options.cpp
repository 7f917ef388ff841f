// The receivers' command line: the options both programs take, and the parsing of a whole command line into
// an outcome that tests can check without starting a program.
#include <QCoreApplication>

#include "platform/wave/wave.h"
#include "platform/window/paths.h"
#include "platform/window/version.h"
#include "receiver/receiver_app.h"

namespace receiver {

void AddCommonOptions(QCommandLineParser& parser) {
    QCoreApplication::setApplicationVersion(platform::SuiteVersion());
    parser.addHelpOption();
    parser.addVersionOption();
    const QString name = QCoreApplication::applicationName();
    parser.addOptions({
        {"headless", "Run without a window: status lines on standard output, commands on standard input."},
        {"dir",
         "The program's folder (init.txt, snapshots); default: the executable's folder, or "
         "$XDG_CONFIG_HOME/" +
             name + " (~/.config/" + name + ") when that holds no init.txt and cannot be written.",
         "DIR"},
        {"video-port", "The servers' video port (default 8001).", "N", "8001"},
        {"sound-port", "The servers' sound port (default 8002).", "N", "8002"},
        {"audio-out", "Sound output: auto, alsa[:NAME], null[:FILE.wav] or none (default auto).", "SINK",
         "auto"},
        {"reconnect",
         "After a lost or failed connection, try again every 3 s until connected (or 切断, 終了)."},
    });
}

bool ParseServer(const QCommandLineParser& parser, const QString& option, std::string& host,
                 std::string* error) {
    host = parser.value(option).toStdString();
    if (!parser.isSet(option)) return true;
    if (!host.empty() && host.find_first_of(" \t,") == std::string::npos) return true;
    *error = "bad server '" + host + "' for --" + option.toStdString() + " (a host name or address)";
    return false;
}

std::string NoServerNamedText(const std::string& which, const std::string& item, const std::string& option) {
    return "--connect: no server is named" + which + " (init.txt's " + item + " item, or " + option +
           " HOST); not connecting";
}

ParseOutcome ParseReceiverOptions(const QStringList& arguments, const ReceiverStart& start,
                                  CommonOptions* options, std::string* error, std::string* out) {
    QCommandLineParser parser;
    parser.setApplicationDescription(start.description);
    AddCommonOptions(parser);
    parser.addOptions(start.options);
    if (!parser.parse(arguments)) {
        *error = parser.errorText().toStdString();
        return ParseOutcome::kError;
    }
    // --help-all is Qt's: it would list Qt's own options too, which the programs do not document.
    if (parser.isSet("help") || parser.isSet("help-all")) {
        *out = parser.helpText().replace("<executable_name>", start.name).toStdString();
        return ParseOutcome::kExitOk;
    }
    if (parser.isSet("version")) {
        *out = std::string(start.name) + " " + platform::SuiteVersion() + "\n";
        return ParseOutcome::kExitOk;
    }
    if (!ApplyCommonOptions(parser, *options, error) || !start.parse(parser, error))
        return ParseOutcome::kError;
    return ParseOutcome::kRun;
}

bool ApplyCommonOptions(const QCommandLineParser& parser, CommonOptions& options, std::string* error) {
    options.headless = parser.isSet("headless");
    options.reconnect = parser.isSet("reconnect");
    if (!platform::ParsePort(parser.value("video-port"), &options.ports.video)) {
        *error = "bad video port '" + parser.value("video-port").toStdString() + "' (1 to 65535)";
        return false;
    }
    if (!platform::ParsePort(parser.value("sound-port"), &options.ports.sound)) {
        *error = "bad sound port '" + parser.value("sound-port").toStdString() + "' (1 to 65535)";
        return false;
    }
    options.dir = parser.value("dir").toStdString();
    const std::string program = QCoreApplication::applicationName().toStdString();
    if (!platform::UseReceiverFolder(options.dir, program, platform::CurrentFolderFacts(), error))
        return false;
    options.audio_out = parser.value("audio-out").toStdString();
    return platform::SetWaveOutBackend(options.audio_out, error);
}

}  // namespace receiver
