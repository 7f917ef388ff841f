// The one way the suites run a program of the build as a child process: a QProcess with bounded waits that
// collects standard output and error, either watched while it runs (Program) or run to its end (RunToEnd).
// The server's argument list (TessalyArgs) keeps its web face off so that no fixed port is taken.
#pragma once

#include <QProcess>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace program_test {

inline std::string BinPath(const std::string& name) {
    return std::string(STREAM_BIN_DIR) + "/" + name;
}
inline bool HaveProgram(const std::string& name) {
    return std::filesystem::exists(BinPath(name));
}

// Whether this machine lets a test run a program in a network namespace of its own (unshare -n) and
// bring its loopback up.
inline bool CanIsolateNetwork() {
    return std::system("unshare -n sh -c 'ip link set lo up' >/dev/null 2>&1") == 0;
}

// tessaly serving its test picture and a tone on 127.0.0.1 at the given ports, web face off; `extra`
// follows (a later option wins).
inline std::vector<std::string> TessalyArgs(std::uint16_t video_port, std::uint16_t sound_port,
                                            const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"--headless",   "--serve",
                                     "--capture",    "testpattern",
                                     "--audio-in",   "tone",
                                     "--audio-out",  "null",
                                     "--bind",       "127.0.0.1",
                                     "--video-port", std::to_string(video_port),
                                     "--sound-port", std::to_string(sound_port),
                                     "--http-port",  "0"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

// A program of the build, or any command found on PATH (Isolated).
struct Command {
    std::string executable;
    std::vector<std::string> args;
};
// The program inside a network namespace with only loopback up, for tests of what happens without a
// configured address: nothing it tries can leave the machine.
inline Command Isolated(const std::string& name, std::vector<std::string> args) {
    std::vector<std::string> all = {"-n", "sh", "-c", "ip link set lo up && exec \"$0\" \"$@\"",
                                    BinPath(name)};
    all.insert(all.end(), args.begin(), args.end());
    return {"unshare", all};
}

class Program {
  public:
    Program(const std::string& name, const std::vector<std::string>& args)
        : Program(Command{BinPath(name), args}) {}
    explicit Program(const Command& command) {
        QStringList list;
        for (const auto& a : command.args) list << QString::fromStdString(a);
        process_.setProgram(QString::fromStdString(command.executable));
        process_.setArguments(list);
        process_.start();
        started_ = process_.waitForStarted(5000);
    }
    ~Program() {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(3000)) {
                process_.kill();
                process_.waitForFinished(3000);
            }
        }
    }
    bool Started() const { return started_; }
    void Send(const std::string& line) {
        process_.write((line + "\n").c_str());
        process_.waitForBytesWritten(1000);
    }
    // Reads output until text has appeared on standard output (the given number of times) or ms have
    // passed; true when found.
    bool WaitForLine(const std::string& text, int ms = 8000, int times = 1) {
        return WaitIn(output_, text, ms, times);
    }
    // The same for standard error.
    bool WaitForErrorLine(const std::string& text, int ms = 8000, int times = 1) {
        return WaitIn(errors_, text, ms, times);
    }
    bool WaitForExit(int ms = 8000) {
        const bool done = process_.waitForFinished(ms);
        output_ += process_.readAllStandardOutput().toStdString();
        errors_ += process_.readAllStandardError().toStdString();
        return done;
    }
    // Asks the program to end (SIGTERM).
    void Terminate() { process_.terminate(); }
    bool Running() const { return process_.state() != QProcess::NotRunning; }
    // The exit code, or -1 when the program crashed or was killed.
    int ExitCode() const { return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1; }
    const std::string& Output() const { return output_; }
    const std::string& Errors() const { return errors_; }
    qint64 Pid() const { return process_.processId(); }

  private:
    static int Count(const std::string& in, const std::string& text) {
        int n = 0;
        for (auto at = in.find(text); at != std::string::npos; at = in.find(text, at + text.size())) ++n;
        return n;
    }
    bool WaitIn(const std::string& stream, const std::string& text, int ms, int times) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (auto now = std::chrono::steady_clock::now(); now < deadline;
             now = std::chrono::steady_clock::now()) {
            if (Count(stream, text) >= times) return true;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
            process_.waitForReadyRead(static_cast<int>(std::min<std::int64_t>(left, 100)));
            output_ += process_.readAllStandardOutput().toStdString();
            errors_ += process_.readAllStandardError().toStdString();
        }
        return Count(stream, text) >= times;
    }

    QProcess process_;
    std::string output_;
    std::string errors_;
    bool started_ = false;
};

// What a program run to its end left: exit code (-1 when it did not end within the limit or crashed)
// and its output.
struct Finished {
    int status = -1;
    std::string out, err;
};
inline Finished RunToEnd(const std::string& name, const std::vector<std::string>& args, int ms = 30000) {
    Program program(name, args);
    const bool ended = program.Started() && program.WaitForExit(ms);
    return {ended ? program.ExitCode() : -1, program.Output(), program.Errors()};
}

}  // namespace program_test
