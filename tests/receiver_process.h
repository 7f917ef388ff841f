// Starting the receiver and server programs for the end-to-end suites: a QProcess with bounded waits that
// collects standard output line by line.
#pragma once

#include <QProcess>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
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

class Program {
  public:
    Program(const std::string& name, const std::vector<std::string>& args) {
        QStringList list;
        for (const auto& a : args) list << QString::fromStdString(a);
        process_.setProgram(QString::fromStdString(BinPath(name)));
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
    // Reads output until a line contains text or ms have passed; true when found.
    bool WaitForLine(const std::string& text, int ms = 8000) {
        return WaitUntil([&] { return output_.find(text) != std::string::npos; }, ms);
    }
    // Collects what the program writes for ms (0: what it has written by now).
    void Collect(int ms) {
        WaitUntil([] { return false; }, ms);
    }
    // Collects what the program writes until done() holds (it may look at Output() and Errors()) or ms have
    // passed; gives done's last answer.
    bool WaitUntil(const std::function<bool()>& done, int ms) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            process_.waitForReadyRead(0);
            output_ += process_.readAllStandardOutput().toStdString();
            errors_ += process_.readAllStandardError().toStdString();
            if (done()) return true;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            process_.waitForReadyRead(static_cast<int>(std::min<long>(left.count(), 100)));
        }
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
    QProcess process_;
    std::string output_;
    std::string errors_;
    bool started_ = false;
};

}  // namespace receiver_test
