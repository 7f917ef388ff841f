// The one way the suites run a program of the build as a child process: a QProcess with bounded waits that
// collects standard output and error, either watched while it runs (Program) or run to its end (RunToEnd).
// tessaly runs as Tessaly: on ports that the system chooses, which it writes to its port file, so that
// suites running side by side never race for a port.
#pragma once

#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
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

// tessaly serving its test picture and a tone on 127.0.0.1, on ports of the system's choosing that it writes
// to port_file, web face off; `extra` follows (a later option wins: "--http-port any" turns the web face on).
inline std::vector<std::string> TessalyArgs(const std::string& port_file,
                                            const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {
        "--headless",   "--serve", "--capture",   "testpattern", "--audio-in",   "tone",
        "--audio-out",  "null",    "--bind",      "127.0.0.1",   "--video-port", "0",
        "--sound-port", "0",       "--http-port", "0",           "--port-file",  port_file};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

// The ports a server listens on, as its port file tells them (http 0: no web face).
struct Ports {
    std::uint16_t video = 0;
    std::uint16_t sound = 0;
    std::uint16_t http = 0;
};

// Reads a whole port file: lines video=N, sound=N, http=N. False while it is not there.
inline bool ReadPortFile(const std::string& path, Ports* ports) {
    std::ifstream in(path);
    std::string line;
    int found = 0;
    while (std::getline(in, line)) {
        const std::size_t at = line.find('=');
        if (at == std::string::npos) continue;
        const std::string name = line.substr(0, at);
        std::uint16_t* field = name == "video"   ? &ports->video
                               : name == "sound" ? &ports->sound
                               : name == "http"  ? &ports->http
                                                 : nullptr;
        if (field == nullptr) continue;
        *field = static_cast<std::uint16_t>(std::atoi(line.c_str() + at + 1));
        ++found;
    }
    return found == 3;
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
    void Send(const std::string& line) { SendBytes(line + "\n"); }
    // Writes bytes to the program's standard input (bounded wait for each part to leave).
    void SendBytes(const std::string& bytes) {
        process_.write(bytes.data(), static_cast<qint64>(bytes.size()));
        while (process_.bytesToWrite() > 0 && process_.waitForBytesWritten(1000)) {
        }
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
    // Collects output until done() or ms have passed, or the program has ended; true when done.
    bool WaitUntil(const std::function<bool()>& done, int ms = 8000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!done()) {
            if (!Running() || std::chrono::steady_clock::now() >= deadline) return done();
            Collect(50);
        }
        return true;
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
            Collect(static_cast<int>(std::min<std::int64_t>(left, 100)));
        }
        return Count(stream, text) >= times;
    }
    void Collect(int wait_ms) {
        process_.waitForReadyRead(wait_ms);
        output_ += process_.readAllStandardOutput().toStdString();
        errors_ += process_.readAllStandardError().toStdString();
    }

    QProcess process_;
    std::string output_;
    std::string errors_;
    bool started_ = false;
};

// The folder of a Tessaly's port file; a base of its own so that it exists before the program starts.
class PortFolder {
  protected:
    std::string PortFile() const { return folder_.filePath("ports").toStdString(); }

  private:
    QTemporaryDir folder_;
};

// tessaly as a child (TessalyArgs): WaitForPorts waits until it listens and tells where.
class Tessaly : private PortFolder, public Program {
  public:
    explicit Tessaly(const std::vector<std::string>& extra = {})
        : Program("tessaly", TessalyArgs(PortFile(), extra)) {}
    // True once the port file is there (bounded; false when the program ended or took too long).
    bool WaitForPorts(int ms = 10000) {
        return Started() && WaitUntil([&] { return ReadPortFile(PortFile(), &ports_); }, ms);
    }
    const Ports& GetPorts() const { return ports_; }

  private:
    Ports ports_;
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
