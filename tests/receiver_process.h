// Starting the receiver and server programs for the end-to-end suites: a QProcess with bounded waits that
// collects standard output line by line.
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

namespace receiver_test {

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
    int ExitCode() const { return process_.exitCode(); }
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

}  // namespace receiver_test
