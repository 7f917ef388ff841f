// platform/storage, files that must survive a crash: an append-only file whose written bytes can be pushed
// to the disk (Sync) so that a power cut keeps them, a small file replaced in one step (written beside it,
// synced, renamed over it), the free space of a file system, and the local calendar time for file names.
// It needs the standard library alone, no other platform room.
//
// Every operation that can fail follows the suite's convention: false (or an empty optional) and one line
// for the user in *error that names the file and the system's reason ("No space left on device").
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <string>

namespace platform {

class AppendFile {
  public:
    AppendFile() = default;
    ~AppendFile();  // closes the file (without a Sync)
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Creates path for writing; fails when it exists already, so that nothing is ever overwritten.
    bool Create(const std::string& path, std::string* error);
    // Writes all the bytes or fails (a full disk: the error says so, and errno_no_space tells it apart).
    bool Write(std::span<const std::uint8_t> bytes, std::string* error);
    // Pushes what was written to the disk.
    bool Sync(std::string* error);
    // Cuts the file back to its first length bytes (to leave out a part that a full disk cut short).
    bool TruncateTo(std::uint64_t length, std::string* error);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    // Whether the last failure was a full file system (or a full quota).
    bool LastFailureWasNoSpace() const { return no_space_; }
    const std::string& Path() const { return path_; }

  private:
    int fd_ = -1;
    bool no_space_ = false;
    std::string path_;
};

// Replaces path with contents in one step: a reader sees the old file or the new one, never a part.
bool ReplaceFile(const std::string& path, const std::string& contents, std::string* error);

// Bytes that an unprivileged writer may still put on the file system that holds path.
std::optional<std::uint64_t> FreeBytes(const std::string& path, std::string* error);

// The local time (with its zone's offset from UTC in seconds) of a moment given as seconds since 1970.
struct LocalTime {
    std::tm fields{};
    long utc_offset_seconds = 0;
};
LocalTime ToLocalTime(std::time_t seconds);

}  // namespace platform
