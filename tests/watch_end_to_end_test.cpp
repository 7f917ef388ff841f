// Tessaly watching by itself, end to end: footage with a light switched off and on and then a walker, fed
// through --capture raw: with a tone as the sound, makes exactly one event (the light switch none), printed
// at its start and end; the event's recording holds H.264 320 x 240 and AAC 8 kHz for pre-capture + event
// + post-capture seconds, and the end hook gets the event in its environment. The web face tells of the event
// on /events as it happens, lists it in /events.json and serves its video in byte ranges.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "motion_footage.h"
#include "program_process.h"

namespace {

using program_test::Command;
using program_test::Program;

constexpr int kFps = 15;
constexpr int kObjectFrom = 60;
constexpr int kObjectTo = 90;

footage::Script LightThenWalker() {
    footage::Script script;
    script.frames = 150;  // 10 s, looped by the raw source
    script.light_off_at = 15;
    script.light_on_at = 30;
    script.object_from = kObjectFrom;
    script.object_to = kObjectTo;
    return script;
}

int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// "codec_name,width,height,sample_rate" per stream and the duration, as ffprobe prints them in CSV.
std::string Probe(const std::string& file) {
    Program probe(
        Command{"ffprobe",
                {"-v", "error", "-show_entries", "stream=codec_name,width,height,sample_rate:format=duration",
                 "-of", "csv=p=0", file}});
    probe.WaitForExit(20000);
    return probe.Output();
}

std::string Curl(const std::vector<std::string>& args) {
    Program curl(Command{"curl", args});
    curl.WaitForExit(10000);
    return curl.Output();
}

TEST(WatchEndToEnd, WalkerBecomesOneRecordedEventWithItsHooks) {
    if (std::system("ffprobe -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffprobe is not installed";
    QTemporaryDir dir;
    const std::string clip = dir.filePath("clip.bgr").toStdString();
    const std::string folder = dir.filePath("recordings").toStdString();
    const std::string played = dir.filePath("played.wav").toStdString();
    std::string error;
    ASSERT_TRUE(footage::WriteRawFootage(LightThenWalker(), STREAM_SAMPLES_DIR, clip, &error)) << error;

    program_test::Tessaly tessaly({"--capture", "raw:" + clip, "--record", folder, "--event-gap", "1",
                                   "--pre-capture", "1", "--post-capture", "1", "--on-event-start", "env",
                                   "--on-event-end", "env", "--motion-alarm", "--audio-out", "null:" + played,
                                   "--http-port", "any"});
    ASSERT_TRUE(tessaly.WaitForPorts());
    const std::string base = "http://127.0.0.1:" + std::to_string(tessaly.GetPorts().http);
    Program events(Command{"curl", {"-sN", "--max-time", "40", base + "/events"}});
    ASSERT_TRUE(events.WaitForLine("retry:"));
    ASSERT_TRUE(tessaly.WaitForLine(" started at ", 30000)) << tessaly.Output() << tessaly.Errors();
    EXPECT_TRUE(events.WaitForLine("event: motion-start\ndata: {\"id\":", 2000)) << events.Output();
    ASSERT_TRUE(tessaly.WaitForLine(" ended after ", 30000)) << tessaly.Output() << tessaly.Errors();
    ASSERT_TRUE(tessaly.WaitForLine("TESSALY_EVENT_FILE=", 5000)) << tessaly.Output();
    ASSERT_TRUE(tessaly.WaitForLine("recorded ", 10000)) << tessaly.Output();     // after the post-capture
    EXPECT_EQ(Count(tessaly.Output(), "motion: event "), 2) << tessaly.Output();  // one start, one end
    EXPECT_NE(tessaly.Output().find("TESSALY_EVENT_THUMBNAIL=" + folder + "/"), std::string::npos);

    const std::size_t at = tessaly.Output().find("TESSALY_EVENT_FILE=") + 19;
    const std::string video = tessaly.Output().substr(at, tessaly.Output().find('\n', at) - at);
    ASSERT_EQ(video.rfind(folder + "/", 0), 0u) << video;
    EXPECT_TRUE(events.WaitForLine("event: motion-end\n", 2000)) << events.Output();
    const std::string name = video.substr(folder.size() + 1);
    const std::string list = Curl({"-s", base + "/events.json"});
    EXPECT_NE(list.find(R"("video":"/recordings/)" + name + "\"}]"), std::string::npos) << list;
    EXPECT_EQ(Curl({"-s", "-o", "/dev/null", "-w", "%{http_code} %{size_download}", "-H",
                    "Range: bytes=10-109", base + "/recordings/" + name}),
              "206 100");
    tessaly.Send("quit");
    ASSERT_TRUE(tessaly.WaitForExit(15000));
    EXPECT_EQ(tessaly.ExitCode(), 0) << tessaly.Errors();
    // The start hook waited for the recorder to name the file, so both hooks name it.
    EXPECT_EQ(Count(tessaly.Output(), "TESSALY_EVENT_FILE=" + video + "\n"), 2) << tessaly.Output();
    // --motion-alarm in the default security mode: the event's start played the alarm (nothing else plays
    // without receivers).
    std::error_code code;
    EXPECT_GT(std::filesystem::file_size(played, code), 8000u) << code.message();

    std::istringstream facts(Probe(video));
    std::string h264, aac, duration;
    std::getline(facts, h264);
    std::getline(facts, aac);
    std::getline(facts, duration);
    EXPECT_EQ(h264, "h264,320,240") << Probe(video);
    EXPECT_EQ(aac, "aac,8000") << Probe(video);
    // 1 s before, the walker (the event starts on its third picture), the 1 s gap, 1 s after.
    const double expected = 1 + (kObjectTo - kObjectFrom - 2.0) / kFps + 1 + 1;
    EXPECT_NEAR(std::atof(duration.c_str()), expected, 0.5) << Probe(video);
    EXPECT_TRUE(std::filesystem::exists(video.substr(0, video.size() - 4) + ".jpg"));
}

TEST(WatchEndToEnd, BadWatchOptionsEndTheProgramWithOneLine) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--motion", "--motion-threshold", "0"}, "--motion-threshold"},
        {{"--motion", "--motion-frames", "x"}, "bad --motion-frames 'x'"},
        {{"--motion", "--motion-mask", "/nonexistent/mask.pgm"}, "/nonexistent/mask.pgm"},
        {{"--motion-frames", "3"}, "--motion-frames needs --motion"},
        {{"--record", "/dev/null/rec"}, "--record: cannot use /dev/null/rec"},
    };
    for (const auto& [args, message] : cases) {
        program_test::Tessaly tessaly(args);
        ASSERT_TRUE(tessaly.WaitForExit(10000));
        EXPECT_EQ(tessaly.ExitCode(), 2) << message;
        EXPECT_NE(tessaly.Errors().find(message), std::string::npos) << tessaly.Errors();
        EXPECT_EQ(Count(tessaly.Errors(), "\n"), 1) << tessaly.Errors();
    }
}

}  // namespace
