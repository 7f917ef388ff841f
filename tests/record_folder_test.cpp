// The recordings' folder: retention deletes only the recorder's own, oldest recordings, a user deletes only
// whole recordings, and the index keeps what the folder holds across a restart.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "record/recorder.h"
#include "record/recording_folder.h"

namespace fs = std::filesystem;
using namespace record;

namespace {

void WriteBytes(const fs::path& path, std::size_t bytes) {
    std::ofstream out(path, std::ios::binary);
    out << std::string(bytes, 'x');
}

}  // namespace

TEST(RecordingFolder, RetentionDeletesTheOldestOwnRecordingsAndNothingElse) {
    QTemporaryDir root;
    const fs::path folder = fs::path(root.path().toStdString()) / "recordings";
    const fs::path outside = fs::path(root.path().toStdString()) / "outside.mp4";
    fs::create_directories(folder / "2025-01-01T00-00-00.mp4");  // a folder with a recording's name
    WriteBytes(outside, 500000);
    fs::create_symlink(outside, folder / "2025-06-01T00-00-00.mp4");  // older by name, but a link
    for (const char* foreign : {"holiday.mp4", "notes.txt", "2026-01-01T00-00-00.mp4.bak", "2026-01-01.mp4"})
        WriteBytes(folder / foreign, 400000);
    WriteBytes(folder / "2026-01-01T00-00-00.mp4", 300000);
    WriteBytes(folder / "2026-01-01T00-00-00.jpg", 10000);
    WriteBytes(folder / "2026-01-02T00-00-00.mp4", 300000);
    WriteBytes(folder / "2026-01-02T00-00-00_2.mp4", 300000);
    WriteBytes(folder / "2026-01-03T00-00-00.mp4", 300000);  // being written
    std::string error;

    // By size: the two oldest go (video and thumbnail), the one being written never does.
    auto deleted = ApplyRetention(folder, Retention{650000, 0}, "2026-01-03T00-00-00.mp4", &error);
    EXPECT_EQ(deleted, (std::vector<std::string>{"2026-01-01T00-00-00.mp4", "2026-01-02T00-00-00.mp4"}));
    EXPECT_FALSE(fs::exists(folder / "2026-01-01T00-00-00.jpg"));
    EXPECT_TRUE(fs::exists(folder / "2026-01-02T00-00-00_2.mp4"));
    deleted = ApplyRetention(folder, Retention{1, 0}, "2026-01-03T00-00-00.mp4", &error);
    EXPECT_EQ(deleted, (std::vector<std::string>{"2026-01-02T00-00-00_2.mp4"}));

    // By age: the last write decides.
    fs::last_write_time(folder / "2026-01-03T00-00-00.mp4",
                        fs::file_time_type::clock::now() - std::chrono::hours(24 * 8));
    WriteBytes(folder / "2026-01-04T00-00-00.mp4", 1000);
    deleted = ApplyRetention(folder, Retention{0, 7}, "", &error);
    EXPECT_EQ(deleted, (std::vector<std::string>{"2026-01-03T00-00-00.mp4"}));
    EXPECT_TRUE(fs::exists(folder / "2026-01-04T00-00-00.mp4"));
    EXPECT_EQ(error, "");

    for (const char* kept : {"holiday.mp4", "notes.txt", "2026-01-01T00-00-00.mp4.bak", "2026-01-01.mp4",
                             "2025-01-01T00-00-00.mp4"})
        EXPECT_TRUE(fs::exists(folder / kept)) << kept;
    EXPECT_TRUE(fs::is_symlink(folder / "2025-06-01T00-00-00.mp4"));
    EXPECT_EQ(fs::file_size(outside), 500000u);
}

TEST(RecordingFolder, TheIndexListsWhatTheFolderHoldsAfterARestart) {
    QTemporaryDir root;
    const std::string folder = root.path().toStdString();
    WriteBytes(fs::path(folder) / "2026-02-01T10-00-00.mp4", 2000);
    WriteBytes(fs::path(folder) / "2026-02-01T11-00-00.mp4", 3000);  // cut by a crash: not in the index
    std::vector<IndexEntry> written = {
        {"2026-02-01T10-00-00.mp4",
         "2026-02-01T10:00:00+01:00",
         "2026-02-01T10:00:09+01:00",
         1,
         {"a\tb", "c,d"}},
        {"2026-01-31T09-00-00.mp4", "2026-01-31T09:00:00+01:00", "", 5, {}},  // deleted by hand since
    };
    std::string error;
    ASSERT_TRUE(WriteFolderIndex(folder, written, &error)) << error;
    std::ofstream(fs::path(folder) / "index.txt", std::ios::app)  // damaged lines are left out
        << "2026-02-01T10-00-00.mp4\tx\ty\t99999999999999999999999\t-\nnonsense\n\t\t\t\t\n";

    const auto entries = ReadFolderIndex(folder);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].file, "2026-02-01T10-00-00.mp4");
    EXPECT_EQ(entries[0].end, "2026-02-01T10:00:09+01:00");
    EXPECT_EQ(entries[0].bytes, 2000u);  // the folder's size, not the stale one
    EXPECT_EQ(entries[0].events, (std::vector<std::string>{"a b", "c d"}));
    EXPECT_EQ(entries[1].file, "2026-02-01T11-00-00.mp4");
    EXPECT_EQ(entries[1].end, "");
    EXPECT_FALSE(fs::exists(fs::path(folder) / "index.txt.new"));
}

TEST(RecordingFolder, AUserDeletesOnlyWholeRecordingsOfTheFolder) {
    QTemporaryDir root;
    const fs::path folder = fs::path(root.path().toStdString()) / "rec";
    fs::create_directories(folder);
    WriteBytes(fs::path(root.path().toStdString()) / "2026-03-01T00-00-00.mp4", 100);  // beside the folder
    WriteBytes(folder / "2026-03-01T10-00-00.mp4", 100);
    WriteBytes(folder / "2026-03-01T10-00-00.jpg", 10);
    WriteBytes(folder / "holiday.mp4", 100);
    record::RecorderSettings settings;
    settings.folder = folder.string();
    record::Recorder recorder(settings, {});
    std::string error;
    ASSERT_TRUE(recorder.Start(&error)) << error;
    ASSERT_EQ(recorder.Recordings().size(), 1u);

    for (const char* refused : {"holiday.mp4", "../2026-03-01T00-00-00.mp4", "2026-03-01T10-00-00.jpg",
                                "2026-03-02T10-00-00.mp4", "index.txt"})
        EXPECT_FALSE(recorder.DeleteRecording(refused, &error)) << refused;
    EXPECT_TRUE(recorder.DeleteRecording("2026-03-01T10-00-00.mp4", &error)) << error;
    EXPECT_FALSE(fs::exists(folder / "2026-03-01T10-00-00.jpg"));
    EXPECT_TRUE(recorder.Recordings().empty());
    EXPECT_TRUE(ReadFolderIndex(folder.string()).empty());
    EXPECT_TRUE(fs::exists(folder / "holiday.mp4"));
    EXPECT_TRUE(fs::exists(fs::path(root.path().toStdString()) / "2026-03-01T00-00-00.mp4"));
}
