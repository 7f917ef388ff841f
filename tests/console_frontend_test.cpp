#include "platform/ui/console_frontend.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/ui/controls.h"
#include "platform/window/signals.h"
#include "platform/window/window.h"

using namespace platform;

namespace {

// A stream whose contents the test reads back.
class Capture {
  public:
    Capture() : file_(open_memstream(&buf_, &size_)) {}
    ~Capture() {
        std::fclose(file_);
        std::free(buf_);
    }
    std::FILE* file() { return file_; }
    std::string Text() {
        std::fflush(file_);
        return std::string(buf_, size_);
    }

  private:
    char* buf_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* file_;
};

// A pipe standing in for standard input.
struct Input {
    int fds[2] = {-1, -1};
    Input() { EXPECT_EQ(pipe(fds), 0); }
    ~Input() {
        Close();
        close(fds[0]);
    }
    void Write(const std::string& s) {
        EXPECT_EQ(write(fds[1], s.data(), s.size()), static_cast<ssize_t>(s.size()));
    }
    void Close() {
        if (fds[1] >= 0) close(fds[1]);
        fds[1] = -1;
    }
};

}  // namespace

TEST(ConsoleFrontend, PrintsEachChangeOfAStatusTextWithItsLabel) {
    Form form("F");
    TextBox& status = form.AddTextBox("Text1", {});
    TextBox& second = form.AddTextBox("Text1(1)", {});
    TextBox& address = form.AddTextBox("Text2", {}, "192.168.0.100");
    status.MarkAsStatus();
    second.MarkAsStatus("server 2");
    Capture out, err;
    Input in;
    ConsoleFrontend console(form, in.fds[0], out.file(), err.file());
    status.SetText("待機します。(127.0.0.1)");
    status.SetText("待機します。(127.0.0.1)");  // unchanged: no line
    address.SetText("127.0.0.1");               // not a status box
    second.SetText("切断しました。");
    status.SetText("");  // cleared: no line
    EXPECT_EQ(out.Text(), "待機します。(127.0.0.1)\nserver 2: 切断しました。\n");
}

TEST(ConsoleFrontend, PrintsAListOnceForEachRefresh) {
    Form form("F");
    ListBox& list = form.AddListBox("List1", {});
    Capture out, err;
    Input in;
    ConsoleFrontend console(form, in.fds[0], out.file(), err.file());
    // One tick's refresh: cleared and filled in one handler.
    list.Clear();
    list.AddItem("1 127.0.0.1 0");
    list.AddItem("Connect=1  /Max:10");
    EXPECT_EQ(out.Text(), "");  // printed once the handler has returned
    DoEvents();
    EXPECT_EQ(out.Text(), "1 127.0.0.1 0\nConnect=1  /Max:10\n");
    list.Clear();
    list.AddItem("Connect=0  /Max:10");
    DoEvents();
    DoEvents();
    EXPECT_EQ(out.Text(), "1 127.0.0.1 0\nConnect=1  /Max:10\nConnect=0  /Max:10\n");
}

TEST(ConsoleFrontend, DispatchesCommandLinesFromInputAsTheyArrive) {
    Form form("F");
    int activations = 0;
    form.OnActivate([&] { ++activations; });
    Capture out, err;
    Input in;
    ConsoleFrontend console(form, in.fds[0], out.file(), err.file());
    std::vector<std::vector<std::string>> drops;
    int secs = 0;
    console.AddCommand("drop", "drop N   drop the receiver in slot N",
                       [&](const auto& args) { drops.push_back(args); });
    console.AddCommand("sec", "sec      flip the security mode", [&](const auto&) { ++secs; });
    console.Start();
    EXPECT_EQ(activations, 1);

    in.Write("sec\r\n  drop   3 \n\nbogus 1\ndr");
    ASSERT_TRUE(RunUntil([&] { return drops.size() == 1; }, 2000));
    in.Write("op 4\n");
    ASSERT_TRUE(RunUntil([&] { return drops.size() == 2; }, 2000));
    EXPECT_EQ(secs, 1);
    EXPECT_EQ(drops[0], std::vector<std::string>{"3"});
    EXPECT_EQ(drops[1], std::vector<std::string>{"4"});
    EXPECT_EQ(err.Text(), "unknown command \"bogus\"; \"help\" lists the commands\n");

    EXPECT_TRUE(console.Dispatch("help"));
    EXPECT_NE(out.Text().find("  drop N   drop the receiver in slot N\n"), std::string::npos);
}

TEST(ConsoleFrontend, EndOfInputRunsTheLastLineAndLeavesTheProgramRunning) {
    Form form("F");
    Capture out, err;
    Input in;
    ConsoleFrontend console(form, in.fds[0], out.file(), err.file());
    console.SetQuitOnUnload(false);
    int quits = 0;
    console.AddCommand("quit", "quit", [&](const auto&) {
        ++quits;
        form.Unload();
    });
    console.Start();
    in.Write("quit");  // no newline before the end
    in.Close();
    ASSERT_TRUE(RunUntil([&] { return console.InputEnded(); }, 2000));
    EXPECT_EQ(quits, 1);
    EXPECT_TRUE(form.Unloaded());
    // Nothing more is read once the input has ended, and the loop goes on.
    Window w;
    int ticks = 0;
    w.SetWindowProc([&](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return ++ticks; });
    PostMessage(&w, 1, 0, 0);
    ASSERT_TRUE(RunUntil([&] { return ticks == 1; }, 2000));
    EXPECT_EQ(quits, 1);
}

TEST(ConsoleFrontend, OverlongLinesAreDroppedWithAComplaint) {
    Form form("F");
    Capture out, err;
    Input in;
    ConsoleFrontend console(form, in.fds[0], out.file(), err.file());
    int runs = 0;
    console.AddCommand("x", "x", [&](const auto&) { ++runs; });
    console.Start();
    std::thread writer([&] {
        in.Write(std::string(70 * 1024, 'a'));
        in.Write("\nx\n");
    });
    ASSERT_TRUE(RunUntil([&] { return runs == 1; }, 5000));
    writer.join();
    EXPECT_EQ(err.Text(), "input line longer than 65536 bytes ignored\n");  // and its rest is not a command
}

TEST(TerminationSignals, SignalsBecomeCallsOnTheWindowThread) {
    struct sigaction before {};
    sigaction(SIGTERM, nullptr, &before);
    std::vector<int> seen;
    {
        TerminationSignals signals([&](int sig) { seen.push_back(sig); });
        std::raise(SIGTERM);
        EXPECT_TRUE(seen.empty());  // not inside the signal handler
        ASSERT_TRUE(RunUntil([&] { return !seen.empty(); }, 2000));
        EXPECT_EQ(seen, std::vector<int>{SIGTERM});
    }
    struct sigaction after {};
    sigaction(SIGTERM, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);  // the previous handler is back
}
