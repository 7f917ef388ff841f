// Recordings as players see them: record_driver feeds a recorder in real time with the test picture and a
// tone, and ffprobe/ffmpeg read what it wrote: a whole recording, one cut by kill -9, and one on a file
// system that fills up. The driver's pictures carry camera noise where a test needs bytes to pile up.
#include <gtest/gtest.h>
#include <signal.h>

#include <QTemporaryDir>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "program_process.h"
#include "record/recording_folder.h"

namespace fs = std::filesystem;
using program_test::Command;
using program_test::Program;

namespace {

bool HaveFfmpeg() {
    return std::system("ffprobe -version >/dev/null 2>&1 && ffmpeg -version >/dev/null 2>&1") == 0;
}

// What ffprobe says of a file: "video.codec_name", "video.width", "audio.sample_rate", "duration", ...
std::map<std::string, std::string> Probe(const std::string& file) {
    Program probe(Command{
        "ffprobe",
        {"-v", "error", "-show_entries",
         "stream=codec_type,codec_name,width,height,sample_rate:format=duration", "-of", "default", file}});
    probe.WaitForExit(20000);
    std::map<std::string, std::string> facts, section;
    std::istringstream lines(probe.Output());
    std::string line;
    while (std::getline(lines, line)) {
        const auto equals = line.find('=');
        if (equals != std::string::npos) section[line.substr(0, equals)] = line.substr(equals + 1);
        if (line != "[/STREAM]" && line != "[/FORMAT]") continue;
        const std::string prefix = line == "[/STREAM]" ? section["codec_type"] + "." : "";
        for (const auto& [key, value] : section) facts[prefix + key] = value;
        section.clear();
    }
    return facts;
}

// Decodes the whole file; the errors ffmpeg reports (empty when it decodes cleanly).
std::string DecodeErrors(const std::string& file) {
    Program decode(Command{"ffmpeg", {"-v", "error", "-i", file, "-f", "null", "-"}});
    return decode.WaitForExit(30000) && decode.ExitCode() == 0 ? decode.Errors()
                                                               : "ffmpeg failed: " + decode.Errors();
}

// The time of the first line of ffmpeg's report through a filter that holds key: the number after the last
// time_label at or before it; -1 when there is none.
double FirstTime(const std::string& file, const std::vector<std::string>& filter, const std::string& key,
                 const std::string& time_label) {
    std::vector<std::string> args = {"-v", "info", "-i", file};
    args.insert(args.end(), filter.begin(), filter.end());
    args.insert(args.end(), {"-f", "null", "-"});
    Program probe(Command{"ffmpeg", args});
    probe.WaitForExit(30000);
    const std::string report = probe.Errors();
    const auto at = report.find(key);
    const auto label = at == std::string::npos ? at : report.rfind(time_label, at);
    return label == std::string::npos ? -1 : std::stod(report.substr(label + time_label.size()));
}

std::vector<std::string> Videos(const fs::path& folder) {
    std::vector<std::string> videos;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().extension() == ".mp4") videos.push_back(entry.path().string());
    std::sort(videos.begin(), videos.end());
    return videos;
}

}  // namespace

TEST(RecordFiles, PreCaptureEventsAndPostCaptureMakeOnePlayableFileWithSound) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffprobe and ffmpeg are not installed";
    QTemporaryDir root;
    const fs::path folder = fs::path(root.path().toStdString()) / "rec";
    // Recording from 0.5 s (2 s before the first event) to 5.5 s (1 s after the second, which starts before
    // the first one's recording has ended).
    auto run = program_test::RunToEnd(
        "record_driver", {"--dir", folder.string(), "--seconds", "7", "--pre", "2", "--post", "1", "--event",
                          "2.5:3.5", "--event", "4:4.5", "--flash-at", "3"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("driver done: 1 files, 0 pictures dropped"), std::string::npos) << run.out;

    const auto videos = Videos(folder);
    ASSERT_EQ(videos.size(), 1u);
    EXPECT_TRUE(record::IsRecordingFileName(fs::path(videos[0]).filename().string())) << videos[0];
    const auto facts = Probe(videos[0]);
    EXPECT_EQ(facts.at("video.codec_name"), "h264");
    EXPECT_EQ(facts.at("video.width"), "320");
    EXPECT_EQ(facts.at("video.height"), "240");
    EXPECT_EQ(facts.at("audio.codec_name"), "aac");
    EXPECT_EQ(facts.at("audio.sample_rate"), "8000");
    EXPECT_NEAR(std::stod(facts.at("duration")), 5.0, 0.5);
    EXPECT_EQ(DecodeErrors(videos[0]), "");
    EXPECT_EQ(fs::file_size(fs::path(videos[0]).replace_extension(".jpg")), 4u);  // the thumbnail beside it

    // Picture and sound in step: the white pictures and the beep come together, 2.5 s into the file. The
    // first white picture is the first one at or after the beep, at most one picture later.
    const double white =
        FirstTime(videos[0], {"-vf", "signalstats,metadata=print:key=lavfi.signalstats.YMIN"},
                  "lavfi.signalstats.YMIN=2", "pts_time:");
    const double beep =
        FirstTime(videos[0], {"-af", "silencedetect=n=-30dB:d=0.1"}, "silence_end: ", "silence_end: ");
    EXPECT_NEAR(beep, 2.5, 0.05);
    EXPECT_GE(white, beep - 0.01);
    EXPECT_LE(white, beep + 0.07);

    std::ifstream index(folder / "index.txt");
    std::stringstream text;
    text << index.rdbuf();
    EXPECT_NE(text.str().find(fs::path(videos[0]).filename().string() + "\t"), std::string::npos)
        << text.str();
    EXPECT_NE(text.str().find("\tevent-1,event-2\n"), std::string::npos) << text.str();
}

TEST(RecordFiles, AFileCutByKillPlaysUpToAboutItsLastSecond) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffprobe and ffmpeg are not installed";
    QTemporaryDir root;
    const fs::path folder = fs::path(root.path().toStdString()) / "rec";
    Program driver("record_driver",
                   {"--dir", folder.string(), "--seconds", "30", "--pre", "1", "--event", "1:60"});
    ASSERT_TRUE(driver.WaitForLine("recording ", 8000)) << driver.Errors();
    std::this_thread::sleep_for(std::chrono::milliseconds(4000));  // 5 s of footage from 1 s before the event
    ::kill(static_cast<pid_t>(driver.Pid()), SIGKILL);
    driver.WaitForExit(5000);

    const auto videos = Videos(folder);
    ASSERT_EQ(videos.size(), 1u);
    EXPECT_EQ(DecodeErrors(videos[0]), "");
    const auto facts = Probe(videos[0]);
    EXPECT_EQ(facts.at("video.codec_name"), "h264");
    EXPECT_EQ(facts.at("audio.codec_name"), "aac");
    EXPECT_GE(std::stod(facts.at("duration")), 5.0 - 1.5);  // fragments of 1 s, written as they are made
}

TEST(RecordFiles, AFullFileSystemStopsRecordingWithOneLineAndItResumesWhenThereIsRoom) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffprobe and ffmpeg are not installed";
    if (std::system("unshare -m sh -c 'mount -t tmpfs -o size=64k tmpfs /mnt' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "unshare -m and mount are not permitted here";
    // A 2 MB file system of the driver's own (a private mount namespace), nearly filled by another file.
    QTemporaryDir root;
    const std::string mount_point = root.path().toStdString();
    const std::string script =
        "mount -t tmpfs -o size=2m tmpfs \"$0\" && head -c 1900000 /dev/zero > \"$0/filler\" && "
        "exec \"$@\"";
    Program driver(Command{"unshare",
                           {"-m",
                            "sh",
                            "-c",
                            script,
                            mount_point,
                            program_test::BinPath("record_driver"),
                            "--dir",
                            mount_point + "/rec",
                            "--seconds",
                            "25",
                            "--pre",
                            "1",
                            "--event",
                            "0.5:60",
                            "--min-free-kb",
                            "16",
                            "--retry-ms",
                            "500",
                            "--noise",
                            "12"}});
    ASSERT_TRUE(driver.WaitForLine("recording stopped: ", 15000)) << driver.Output() << driver.Errors();
    EXPECT_NE(driver.Output().find("No space left on device"), std::string::npos) << driver.Output();

    // The test sees the driver's file system through its root in /proc.
    const fs::path seen = "/proc/" + std::to_string(driver.Pid()) + "/root" + mount_point;
    fs::remove(seen / "filler");
    ASSERT_TRUE(driver.WaitForLine("recording resumed", 5000)) << driver.Output();
    ASSERT_TRUE(driver.WaitForLine("recording " + mount_point, 5000, 2)) << driver.Output();
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    const auto videos = Videos(seen / "rec");
    ASSERT_EQ(videos.size(), 2u);
    EXPECT_EQ(DecodeErrors(videos[0]), "");  // the file that the full disk cut short plays
    const std::string output = driver.Output();
    std::size_t stops = 0;
    for (auto at = output.find("recording stopped"); at != std::string::npos;
         at = output.find("recording stopped", at + 1))
        ++stops;
    EXPECT_EQ(stops, 1u) << output;
    driver.Terminate();
}
