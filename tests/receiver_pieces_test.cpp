// The receivers' small shared pieces: init.txt items, the raw picture output, the frame statistics and the
// one-box-at-a-time error reporting.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/capture/testpattern.h"
#include "platform/capture/timestamp.h"
#include "platform/window/error_box.h"
#include "platform/window/msgbox.h"
#include "receiver/frame_stats.h"
#include "receiver/init_file.h"
#include "receiver/raw_out.h"
#include "receiver/receiver_app.h"
#include "receiver/receiver_window.h"

namespace {

std::filesystem::path TempFile(const std::string& name) {
    return std::filesystem::temp_directory_path() / (name + "_" + std::to_string(::getpid()));
}

int ReadText(const std::string& text, receiver::InitItems& items, std::vector<int>* seen = nullptr) {
    const auto path = TempFile("init_items");
    std::ofstream(path, std::ios::binary) << text;
    const int n = receiver::ReadInitItems(path.string(), items, [&](int i) {
        if (seen != nullptr) seen->push_back(i);
    });
    std::filesystem::remove(path);
    return n;
}

TEST(InitItems, SeparatorsQuotesBlanksAndLineEnds) {
    receiver::InitItems items;
    std::vector<int> seen;
    EXPECT_EQ(ReadText("  127.0.0.1  ,\"a, \"\"b\" x\r\n\r\n 200 \n", items, &seen), 3);
    EXPECT_EQ(items[0], "127.0.0.1");
    EXPECT_EQ(items[1], "a, ");
    EXPECT_EQ(items[2], "200");
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(ReadText("only", items), 1);
    EXPECT_EQ(items[0], "only");
}

TEST(InitItems, EmptyMissingAndTooLongFilesAreErrors) {
    receiver::InitItems items;
    EXPECT_EQ(ReadText("", items), -1);
    EXPECT_EQ(receiver::ReadInitItems("/nonexistent/init.txt", items, {}), -1);
    std::vector<int> seen;
    EXPECT_EQ(ReadText("1,2,3,4,5,6,7,8,9,10,11,12", items, &seen), -1);
    EXPECT_EQ(seen.size(), 11u) << "the items before the twelfth were read and acted on";
    EXPECT_EQ(ReadText("1,2,3,4,5,6,7,8,9,10,11\r\n", items), 11);
}

TEST(InitItems, ValuesOfSizeAndIntervalItems) {
    EXPECT_EQ(receiver::SizeItemValue("SIZE=1"), 1);
    EXPECT_EQ(receiver::SizeItemValue("SIZE"), 0);
    EXPECT_EQ(receiver::SizeItemValue("SIZE2"), 2);
    EXPECT_EQ(receiver::IntervalItemValue("200"), 200);
    EXPECT_EQ(receiver::IntervalItemValue(""), 0);
    EXPECT_EQ(receiver::IntervalItemValue("fast"), 0);
    EXPECT_EQ(receiver::IntervalItemValue("99999999999"), 0x7FFFFFFF);
}

TEST(RawOutput, WritesPicturesTopDownAndReportsAFailedWrite) {
    std::vector<std::uint8_t> picture(230400);
    for (int row = 0; row < 240; ++row)
        std::fill_n(picture.begin() + row * 960, 960, static_cast<std::uint8_t>(row));
    const auto path = TempFile("raw_out.bgr");
    receiver::RawOut out;
    std::string error;
    ASSERT_TRUE(out.Open(path.string(), &error)) << error;
    ASSERT_TRUE(out.Write(picture.data(), &error));
    ASSERT_TRUE(out.Write(picture.data(), &error));  // the same capture again: not written twice
    picture[0] = 1;
    ASSERT_TRUE(out.Write(picture.data(), &error));
    out.Close();
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                          std::istreambuf_iterator<char>()};
    ASSERT_EQ(bytes.size(), 2 * 230400u);
    EXPECT_EQ(bytes[0], 239) << "the first line written is the top of the scene";
    EXPECT_EQ(bytes[230399], 0);
    EXPECT_EQ(bytes[2 * 230400 - 960], 1) << "the second picture's first pixel, in its bottom line";
    std::filesystem::remove(path);

    EXPECT_FALSE(out.Open("/nonexistent/dir/raw.bgr", &error));
    EXPECT_NE(error.find("/nonexistent/dir/raw.bgr"), std::string::npos);
    ASSERT_TRUE(out.Open("/dev/full", &error));
    EXPECT_FALSE(out.Write(picture.data(), &error));
    EXPECT_FALSE(out.IsOpen());
}

TEST(FrameStatistics, LatencyAtTheFirstPaintingOfEachCapture) {
    platform::TestPattern pattern;
    std::vector<std::uint8_t> picture(platform::TestPattern::kFrameBytes);
    receiver::FrameStats stats;
    for (int n = 0; n < 100; ++n) {
        pattern.Render(picture.data(), n, 1'000'000 + n * 10'000);
        stats.FramePainted(picture.data(), 1'000'000 + n * 10'000 + 1'000 + (n >= 98 ? 50'000 : 0));
        stats.FramePainted(picture.data(), 1'000'000 + n * 10'000 + 9'000);  // the same capture again
    }
    EXPECT_EQ(stats.Frames(), 200);
    EXPECT_EQ(stats.StampedFrames(), 100);
    const auto summary = stats.Summary();
    EXPECT_DOUBLE_EQ(summary.median_ms, 1.0);
    EXPECT_DOUBLE_EQ(summary.p99_ms, 51.0);

    std::fill(picture.begin(), picture.end(), 0x80);  // no stamp
    receiver::FrameStats plain;
    plain.FramePainted(picture.data(), 5);
    EXPECT_EQ(plain.Frames(), 1);
    EXPECT_EQ(plain.Summary().samples, 0);
}

TEST(ErrorReporting, OneBoxAtATime) {
    platform::ErrorBox errors;
    std::vector<std::string> shown;
    auto previous = platform::SetMessageBoxHandler([&](const std::string& text, const std::string&) {
        shown.push_back(text);
        errors.Report("while open");  // the loop runs under a modal box
        errors.Report("while open");
    });
    errors.Report(receiver::CodecErrorText(9));
    errors.Report(receiver::CodecErrorText(6));
    platform::SetMessageBoxHandler(previous);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], "実行時エラー '9': インデックスが有効範囲にありません。");
    EXPECT_EQ(shown[1], "実行時エラー '6': オーバーフローしました。");
    EXPECT_EQ(errors.Suppressed(), 4);
}

}  // namespace

namespace {

// A receiver's command line as the programs parse it: the common options and one option of the program's own.
receiver::ParseOutcome ParseReceiver(QStringList arguments, receiver::CommonOptions* options,
                                     std::string* error, std::string* out, std::string* server = nullptr) {
    receiver::ReceiverStart start{"quillon", "Quillon", "test", {{"server", "server", "HOST"}}, {}, {}};
    start.parse = [server](const QCommandLineParser& parser, std::string* e) {
        std::string host;
        if (!receiver::ParseServer(parser, "server", host, e)) return false;
        if (server != nullptr) *server = host;
        return true;
    };
    arguments.prepend("quillon");
    return receiver::ParseReceiverOptions(arguments, start, options, error, out);
}

}  // namespace

TEST(ReceiverOptions, OutcomesOfHelpVersionBadAndGoodCommandLines) {
    const auto dir = TempFile("receiver_options");
    std::filesystem::create_directories(dir);
    const QString dir_text = QString::fromStdString(dir.string());
    receiver::CommonOptions options;
    std::string error, out, server;
    EXPECT_EQ(ParseReceiver({"--help"}, &options, &error, &out), receiver::ParseOutcome::kExitOk);
    EXPECT_NE(out.find("--server <HOST>"), std::string::npos) << out;
    out.clear();
    EXPECT_EQ(ParseReceiver({"--help-all"}, &options, &error, &out), receiver::ParseOutcome::kExitOk);
    EXPECT_NE(out.find("--server <HOST>"), std::string::npos) << "help, not a start: " << out;
    EXPECT_EQ(ParseReceiver({"--version"}, &options, &error, &out), receiver::ParseOutcome::kExitOk);
    EXPECT_EQ(out.rfind("quillon ", 0), 0u) << out;
    EXPECT_EQ(ParseReceiver({"--no-such"}, &options, &error, &out), receiver::ParseOutcome::kError);
    EXPECT_NE(error.find("no-such"), std::string::npos) << error;
    EXPECT_EQ(ParseReceiver({"--video-port", "0", "--dir", dir_text}, &options, &error, &out),
              receiver::ParseOutcome::kError);
    EXPECT_NE(error.find("video port"), std::string::npos) << error;
    EXPECT_EQ(ParseReceiver({"--server", ""}, &options, &error, &out), receiver::ParseOutcome::kError);
    EXPECT_EQ(ParseReceiver({"--dir", dir_text, "--video-port", "9001", "--audio-out", "null", "--reconnect",
                             "--server", "127.0.0.1"},
                            &options, &error, &out, &server),
              receiver::ParseOutcome::kRun)
        << error;
    EXPECT_EQ(options.ports.video, 9001);
    EXPECT_TRUE(options.reconnect);
    EXPECT_EQ(server, "127.0.0.1");
    std::filesystem::remove_all(dir);
}
