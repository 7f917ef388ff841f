// The recordings' folder: how files are named, which files are the recorder's own, the index, and the
// retention rules that delete the oldest recordings.
//
// Contract:
// - A recording is NAME.mp4 with its thumbnail NAME.jpg beside it; NAME is the local time of its first
//   picture, 2026-12-08T10-30-29 (sortable, no colons), with _2, _3, ... when that name is taken. The index
//   is index.txt. Nothing else in the folder is ever touched.
// - Retention looks only at the folder's own entries (no subfolders), only at regular files whose names
//   match the pattern above (a symbolic link is never followed nor deleted), and deletes whole recordings
//   (the video and its thumbnail), oldest name first.
// - The index is one line per recording, oldest first, fields separated by tabs:
//     NAME.mp4  START  END  BYTES  EVENT-IDS
//   START and END are ISO 8601 local times with the zone ("2026-12-08T10:30:29+01:00"), END is "-" while the
//   file is being written (or after a crash cut it short), EVENT-IDS is a comma-separated list ("-" for
//   none). A line that starts with # is a comment. The file is replaced in one step.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace record {

inline constexpr const char* kIndexName = "index.txt";

// The name (without extension) of a recording that starts at the given second; taken(name) says whether
// a name is in use.
template <typename Taken>
std::string RecordingName(std::time_t start, Taken taken);
std::string BaseRecordingName(std::time_t start);
// Whether a file name is one of the recorder's: NAME.mp4 or NAME.jpg.
bool IsRecordingFileName(std::string_view file_name);
// "2026-12-08T10:30:29+01:00".
std::string IsoLocalTime(std::time_t seconds);

struct IndexEntry {
    std::string file;   // NAME.mp4
    std::string start;  // ISO 8601 with the zone
    std::string end;    // "" while it lasts or when unknown
    std::uint64_t bytes = 0;
    std::vector<std::string> events;
};

// The index as text, and back. Lines that do not parse are left out.
std::string FormatIndex(const std::vector<IndexEntry>& entries);
std::vector<IndexEntry> ParseIndex(const std::string& text);

// The index of a folder: the entries of its index file whose videos are there, and an entry (with an
// unknown end) for every video the index does not list, sorted by name.
std::vector<IndexEntry> ReadFolderIndex(const std::string& folder);
bool WriteFolderIndex(const std::string& folder, const std::vector<IndexEntry>& entries, std::string* error);

// Deletes one recording (NAME.mp4 and its NAME.jpg); false when video names no recording of the folder.
bool DeleteRecording(const std::string& folder, const std::string& video, std::string* error);

struct Retention {
    std::uint64_t max_bytes = 0;  // 0: no limit
    int max_days = 0;             // 0: no limit
};

// Deletes the oldest recordings until the recorder's files in the folder take at most max_bytes, and every
// recording whose video was last written more than max_days ago; never the recording named keep (the one
// being written). Returns the deleted videos' names (NAME.mp4); *error tells of a file that could not go.
std::vector<std::string> ApplyRetention(const std::string& folder, const Retention& rules,
                                        const std::string& keep, std::string* error);

template <typename Taken>
std::string RecordingName(std::time_t start, Taken taken) {
    const std::string base = BaseRecordingName(start);
    std::string name = base;
    for (int n = 2; taken(name); ++n) name = base + "_" + std::to_string(n);
    return name;
}

}  // namespace record
