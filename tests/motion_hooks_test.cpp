// The event hooks with real child processes: the event reaches the program's environment, a hook runs
// once at a time (skips counted, said once), a run past the time-out is killed with what it started, a
// missing program is reported once; and how a hook's command line is split.
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

events::Event SampleEvent(const std::string& id) {
    events::Event event;
    event.id = id;
    event.start.unix_seconds = 1796725829;
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

    // Polls until there are `lines` log lines, for at most 10 s.
    bool WaitForLog(std::size_t lines) {
        for (int i = 0; i < 1000 && log.size() < lines; ++i) {
            hooks.Poll(NowMicros());
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return log.size() >= lines;
    }
};

TEST(MotionHooks, EventReachesTheProgramsEnvironment) {
    QTemporaryDir dir;
    const std::string out = dir.filePath("env.txt").toStdString();
    HookRig rig({.on_start = {}, .on_end = {"sh", "-c", "env > \"$0\"; exit 3", out}, .timeout_seconds = 30});
    rig.hooks.EventEnded(SampleEvent("20261208-103029"), {"/rec/a.mp4", "/rec/a.jpg"}, NowMicros());
    ASSERT_TRUE(rig.WaitForLog(1));
    EXPECT_EQ(rig.log[0], "event hook on-event-end: sh ended, exit status 3");
    std::stringstream env;
    env << std::ifstream(out).rdbuf();
    for (const char* line :
         {"TESSALY_EVENT_ID=20261208-103029\n", "TESSALY_EVENT_START=2026-12-08T10:30:29+00:00\n",
          "TESSALY_EVENT_END=2026-12-08T10:30:45+00:00\n", "TESSALY_EVENT_PEAK=2400\n",
          "TESSALY_EVENT_BOX=100,90,40,60\n", "TESSALY_EVENT_FILE=/rec/a.mp4\n",
          "TESSALY_EVENT_THUMBNAIL=/rec/a.jpg\n", "\nPATH="}) {
        EXPECT_NE(env.str().find(line), std::string::npos) << line << " missing from:\n" << env.str();
    }
}

TEST(MotionHooks, OneRunAtATimeAndKilledWithWhatItStartedAtTheTimeOut) {
    QTemporaryDir dir;
    const std::string witness = dir.filePath("alive").toStdString();
    // The hook starts a child of its own that says it is up, and would leave a witness a second later.
    HookRig rig({.on_start = {"sh", "-c", "(echo > \"$0.up\"; sleep 1; echo > \"$0\") & wait", witness},
                 .on_end = {},
                 .timeout_seconds = 0.2});
    const std::int64_t start = NowMicros();
    for (const char* id : {"a", "b", "c"}) rig.hooks.EventStarted(SampleEvent(id), {}, start);
    EXPECT_EQ(rig.hooks.SkippedStarts(), 2);
    ASSERT_EQ(rig.log.size(), 1u) << "a second skip was reported";
    EXPECT_EQ(rig.log[0],
              "event hook on-event-start: sh still runs, so event b gets no run of it (further skips are "
              "only counted)");

    for (int i = 0; i < 500 && !std::filesystem::exists(witness + ".up"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    rig.hooks.Poll(start + 200000);
    ASSERT_TRUE(rig.WaitForLog(2));
    EXPECT_EQ(rig.log[1], "event hook on-event-start: sh ended, killed after the 0.2 s time-out");
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_FALSE(std::filesystem::exists(witness)) << "the hook's own child outlived the kill";
    rig.hooks.EventStarted(SampleEvent("d"), {}, NowMicros());  // runs again now that the last run is over
    EXPECT_EQ(rig.hooks.SkippedStarts(), 2);
}

TEST(MotionHooks, MissingProgramIsReportedOnce) {
    HookRig rig({.on_start = {}, .on_end = {"/nonexistent/notify", "x"}, .timeout_seconds = 30});
    rig.hooks.EventEnded(SampleEvent("a"), {}, NowMicros());
    rig.hooks.EventEnded(SampleEvent("b"), {}, NowMicros());
    EXPECT_EQ(rig.hooks.FailedEnds(), 2);
    EXPECT_EQ(rig.log,
              std::vector<std::string>{"event hook on-event-end: cannot run /nonexistent/notify: No such "
                                       "file or directory (further failures are only counted)"});
}

TEST(MotionHooks, CommandLineIsSplitIntoWordsWithoutAShell) {
    std::vector<std::string> argv;
    std::string error;
    ASSERT_TRUE(
        events::SplitHookCommand(R"(  notify-send "Motion at" 'the door' a\ b "" $HOME;x  )", &argv, &error));
    EXPECT_EQ(argv, (std::vector<std::string>{"notify-send", "Motion at", "the door", "a b", "", "$HOME;x"}));
    EXPECT_FALSE(events::SplitHookCommand("   ", &argv, &error));
    EXPECT_EQ(error, "event hook: no program given");
    EXPECT_FALSE(events::SplitHookCommand("say 'hi", &argv, &error));
    EXPECT_EQ(error, "event hook \"say 'hi\": a quote is not closed");
}

}  // namespace
