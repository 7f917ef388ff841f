#include "record/recording_folder.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/storage/storage.h"

namespace record {
namespace {

namespace fs = std::filesystem;

bool AllDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// NAME without its extension, when it has the recorder's shape: dddd-dd-ddTdd-dd-dd or that with _n.
bool IsRecordingStem(std::string_view stem) {
    static constexpr std::string_view kShape = "dddd-dd-ddTdd-dd-dd";
    if (stem.size() < kShape.size()) return false;
    for (std::size_t i = 0; i < kShape.size(); ++i) {
        const bool ok = kShape[i] == 'd' ? (stem[i] >= '0' && stem[i] <= '9') : stem[i] == kShape[i];
        if (!ok) return false;
    }
    const std::string_view rest = stem.substr(kShape.size());
    return rest.empty() || (rest[0] == '_' && AllDigits(rest.substr(1)) && rest.size() <= 6);
}

bool ParseCount(const std::string& text, std::uint64_t* value) {
    const auto [end, code] = std::from_chars(text.data(), text.data() + text.size(), *value);
    return code == std::errc{} && end == text.data() + text.size();
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) parts.push_back(part);
    return parts;
}

// Tabs, commas and line ends would break the index's fields.
std::string FieldText(const std::string& text) {
    std::string clean = text;
    std::replace_if(
        clean.begin(), clean.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r' || c == ','; },
        ' ');
    return clean.empty() ? "-" : clean;
}

struct Recording {
    std::uint64_t bytes = 0;
    fs::file_time_type written{};
    bool has_video = false;
};

// The recorder's own files in folder, by NAME.
std::map<std::string, Recording> OwnRecordings(const std::string& folder) {
    std::map<std::string, Recording> found;
    std::error_code code;
    for (const auto& entry : fs::directory_iterator(folder, code)) {
        const std::string name = entry.path().filename().string();
        std::error_code status_code;
        if (!IsRecordingFileName(name) || !entry.is_regular_file(status_code) ||
            entry.is_symlink(status_code))
            continue;
        Recording& recording = found[name.substr(0, name.size() - 4)];
        recording.bytes += entry.file_size(status_code);
        if (name.ends_with(".mp4")) {
            recording.has_video = true;
            recording.written = entry.last_write_time(status_code);
        }
    }
    return found;
}

}  // namespace

std::string BaseRecordingName(std::time_t start) {
    const auto local = platform::ToLocalTime(start);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H-%M-%S", &local.fields);
    return text;
}

bool IsRecordingFileName(std::string_view file_name) {
    if (!(file_name.ends_with(".mp4") || file_name.ends_with(".jpg"))) return false;
    return IsRecordingStem(file_name.substr(0, file_name.size() - 4));
}

std::string IsoLocalTime(std::time_t seconds) {
    const auto local = platform::ToLocalTime(seconds);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local.fields);
    const long offset = local.utc_offset_seconds;
    const long minutes = (offset < 0 ? -offset : offset) / 60;
    char zone[24];
    std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    return std::string(text) + zone;
}

std::string FormatIndex(const std::vector<IndexEntry>& entries) {
    std::string text = "# file\tstart\tend\tbytes\tevents\n";
    for (const auto& e : entries) {
        std::string events;
        for (const auto& id : e.events) events += (events.empty() ? "" : ",") + FieldText(id);
        text += FieldText(e.file) + "\t" + FieldText(e.start) + "\t" + FieldText(e.end) + "\t" +
                std::to_string(e.bytes) + "\t" + (events.empty() ? "-" : events) + "\n";
    }
    return text;
}

std::vector<IndexEntry> ParseIndex(const std::string& text) {
    std::vector<IndexEntry> entries;
    for (const auto& line : Split(text, '\n')) {
        const auto fields = Split(line, '\t');
        std::uint64_t bytes = 0;
        if (line.empty() || line[0] == '#' || fields.size() != 5 || !IsRecordingFileName(fields[0]) ||
            !ParseCount(fields[3], &bytes))
            continue;
        IndexEntry e{fields[0], fields[1], fields[2] == "-" ? "" : fields[2], bytes, {}};
        if (fields[4] != "-") e.events = Split(fields[4], ',');
        entries.push_back(std::move(e));
    }
    return entries;
}

std::vector<IndexEntry> ReadFolderIndex(const std::string& folder) {
    std::ifstream in(fs::path(folder) / kIndexName);
    std::ostringstream text;
    text << in.rdbuf();
    std::map<std::string, IndexEntry> by_file;
    for (auto& e : ParseIndex(text.str())) by_file[e.file] = std::move(e);
    std::vector<IndexEntry> entries;
    for (const auto& [stem, recording] : OwnRecordings(folder)) {
        if (!recording.has_video) continue;
        const std::string file = stem + ".mp4";
        auto listed = by_file.find(file);
        IndexEntry e = listed != by_file.end() ? listed->second : IndexEntry{file, "", "", 0, {}};
        e.bytes = recording.bytes;
        entries.push_back(std::move(e));
    }
    return entries;
}

bool WriteFolderIndex(const std::string& folder, const std::vector<IndexEntry>& entries, std::string* error) {
    return platform::ReplaceFile((fs::path(folder) / kIndexName).string(), FormatIndex(entries), error);
}

bool DeleteRecording(const std::string& folder, const std::string& video, std::string* error) {
    if (!video.ends_with(".mp4") || !IsRecordingFileName(video)) {
        *error = video + " is no recording";
        return false;
    }
    const std::string stem = video.substr(0, video.size() - 4);
    bool any = false;
    for (const char* extension : {".mp4", ".jpg"}) {
        const fs::path path = fs::path(folder) / (stem + extension);
        std::error_code code;
        if (!fs::is_regular_file(fs::symlink_status(path, code))) continue;
        if (fs::remove(path, code)) {
            any = true;
        } else if (code) {
            *error = "cannot delete " + path.string() + ": " + code.message();
            return false;
        }
    }
    if (!any) *error = "there is no recording " + video;
    return any;
}

std::vector<std::string> ApplyRetention(const std::string& folder, const Retention& rules,
                                        const std::string& keep, std::string* error) {
    std::vector<std::string> deleted;
    auto recordings = OwnRecordings(folder);
    std::uint64_t total = 0;
    for (const auto& [stem, recording] : recordings) total += recording.bytes;
    const auto oldest_kept = fs::file_time_type::clock::now() - std::chrono::hours(24) * rules.max_days;
    for (const auto& [stem, recording] : recordings) {  // oldest name first
        const bool too_big = rules.max_bytes > 0 && total > rules.max_bytes;
        const bool too_old = rules.max_days > 0 && recording.has_video && recording.written < oldest_kept;
        if (stem + ".mp4" == keep || !(too_big || too_old)) continue;
        DeleteRecording(folder, stem + ".mp4", error);
        total -= recording.bytes;
        deleted.push_back(stem + ".mp4");
    }
    return deleted;
}

}  // namespace record
