// The event hooks with real child processes: the event reaches the program's environment, a hook runs
// once at a time (skips counted, said once), a run past the time-out is killed, a missing program is
// reported once; and how a hook's command line is split.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "events/event_hooks.h"

namespace {

std::int64_t NowMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Whether a process has ended (it may stay a zombie where nobody reaps orphans), waiting at most 5 s.
bool Gone(int pid) {
    for (int i = 0; i < 500; ++i) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string pid_field, name, state;
        if (!(stat >> pid_field >> name >> state) || state == "Z") return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

events::Event SampleEvent(const std::string& id) {
    events::Event event;
    event.id = id;
    event.start = {.unix_seconds = 1796725829, .utc_offset_minutes = 0};
    event.end = events::WallTime{.unix_seconds = 1796725845, .utc_offset_minutes = 0};
    event.peak = 2400;
    event.box = {100, 90, 40, 60};
    return event;
}

struct HookRig {
    std::vector<std::string> log;
    events::EventHooks hooks;

    explicit HookRig(events::HookSettings settings)
        : hooks(std::move(settings), [this](const std::string& line) { log.push_back(line); }) {}

    // Polls until `lines` log lines are there, for at most 10 s.
    bool WaitForLog(std::size_t lines, std::int64_t poll_time_offset = 0) {
        for (int i = 0; i < 1000 && log.size() < lines; ++i) {
            hooks.Poll(NowMicros() + poll_time_offset);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return log.size() >= lines;
    }
};

TEST(MotionHooks, EventReachesTheProgramsEnvironment) {
    QTemporaryDir dir;
    const std::string out = dir.filePath("env.txt").toStdString();
    HookRig rig({.on_start = {}, .on_end = {"sh", "-c", "env > \"$0\"; exit 3", out}, .timeout_seconds = 30});
    rig.hooks.EventEnded(SampleEvent("20261208-103029"),
                         {"/rec/20261208-103029.mp4", "/rec/20261208-103029.jpg"}, NowMicros());
    ASSERT_TRUE(rig.WaitForLog(1));
    EXPECT_EQ(rig.log[0], "event hook on-event-end: sh ended, exit status 3");
    std::ifstream in(out);
    std::stringstream text;
    text << in.rdbuf();
    for (const char* line :
         {"TESSALY_EVENT_ID=20261208-103029\n", "TESSALY_EVENT_START=2026-12-08T10:30:29+00:00\n",
          "TESSALY_EVENT_END=2026-12-08T10:30:45+00:00\n", "TESSALY_EVENT_PEAK=2400\n",
          "TESSALY_EVENT_BOX=100,90,40,60\n", "TESSALY_EVENT_FILE=/rec/20261208-103029.mp4\n",
          "TESSALY_EVENT_THUMBNAIL=/rec/20261208-103029.jpg\n", "PATH="}) {
        EXPECT_NE(text.str().find(line), std::string::npos) << line << " missing from:\n" << text.str();
    }
}

TEST(MotionHooks, OneRunAtATimeAndKilledAtTheTimeOut) {
    QTemporaryDir dir;
    const std::string pid_file = dir.filePath("sleep.pid").toStdString();
    HookRig rig({.on_start = {"sh", "-c", "sleep 30 & echo $! > \"$0\"; wait", pid_file},
                 .on_end = {},
                 .timeout_seconds = 0.2});
    const std::int64_t start = NowMicros();
    std::error_code ignored;
    rig.hooks.EventStarted(SampleEvent("a"), {}, start);
    rig.hooks.EventStarted(SampleEvent("b"), {}, start + 1000);
    rig.hooks.EventStarted(SampleEvent("c"), {}, start + 2000);
    EXPECT_EQ(rig.hooks.SkippedStarts(), 2);
    ASSERT_EQ(rig.log.size(), 1u) << "a second skip was reported";
    EXPECT_EQ(rig.log[0],
              "event hook on-event-start: sh still runs, so event b gets no run of it "
              "(further skips are only counted)");

    // Past the time-out the run is killed (sleep too: the whole process group) and logged once reaped.
    const auto pid_written = [&] {
        return std::filesystem::exists(pid_file) && std::filesystem::file_size(pid_file, ignored) >= 2;
    };
    for (int i = 0; i < 500 && !pid_written(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    rig.hooks.Poll(start + 200000);
    ASSERT_TRUE(rig.WaitForLog(2));
    EXPECT_EQ(rig.log[1], "event hook on-event-start: sh ended, killed after the 0.2 s time-out");
    EXPECT_LT(NowMicros() - start, 10000000);
    std::ifstream pid_text(pid_file);
    int sleep_pid = 0;
    ASSERT_TRUE(pid_text >> sleep_pid);
    EXPECT_TRUE(Gone(sleep_pid)) << "the hook's sleep outlived the kill";

    // Once it is gone the next event runs it again.
    rig.hooks.EventStarted(SampleEvent("d"), {}, NowMicros());
    EXPECT_EQ(rig.hooks.SkippedStarts(), 2);
}

TEST(MotionHooks, MissingProgramIsReportedOnce) {
    HookRig rig({.on_start = {}, .on_end = {"/nonexistent/notify", "x"}, .timeout_seconds = 30});
    rig.hooks.EventEnded(SampleEvent("a"), {}, NowMicros());
    rig.hooks.EventEnded(SampleEvent("b"), {}, NowMicros());
    rig.hooks.Poll(NowMicros());
    EXPECT_EQ(rig.hooks.FailedEnds(), 2);
    ASSERT_EQ(rig.log.size(), 1u);
    EXPECT_EQ(rig.log[0],
              "event hook on-event-end: cannot run /nonexistent/notify: No such file or directory "
              "(further failures are only counted)");
}

TEST(MotionHooks, CommandLineIsSplitIntoWordsWithoutAShell) {
    std::vector<std::string> argv;
    std::string error;
    ASSERT_TRUE(
        events::SplitHookCommand(R"(  notify-send "Motion at" 'the door' a\ b $HOME;x  )", &argv, &error));
    EXPECT_EQ(argv, (std::vector<std::string>{"notify-send", "Motion at", "the door", "a b", "$HOME;x"}));
    ASSERT_TRUE(events::SplitHookCommand(R"(curl -d "")", &argv, &error));
    EXPECT_EQ(argv, (std::vector<std::string>{"curl", "-d", ""}));
    EXPECT_FALSE(events::SplitHookCommand("   ", &argv, &error));
    EXPECT_EQ(error, "event hook: no program given");
    EXPECT_FALSE(events::SplitHookCommand("say 'hi", &argv, &error));
    EXPECT_EQ(error, "event hook \"say 'hi\": a quote is not closed");
}

}  // namespace
