#include "platform/storage/storage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {
namespace {

std::string Failure(const char* what, const std::string& path, int error_number) {
    return std::string(what) + " " + path + ": " + std::strerror(error_number);
}

bool IsNoSpace(int error_number) {
    return error_number == ENOSPC || error_number == EDQUOT;
}

bool WriteAll(int fd, std::span<const std::uint8_t> bytes, int* error_number) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *error_number = n < 0 ? errno : ENOSPC;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

AppendFile::~AppendFile() {
    Close();
}

bool AppendFile::Create(const std::string& path, std::string* error) {
    Close();
    no_space_ = false;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd_ < 0) {
        no_space_ = IsNoSpace(errno);
        *error = Failure("cannot create", path, errno);
        return false;
    }
    path_ = path;
    return true;
}

bool AppendFile::Write(std::span<const std::uint8_t> bytes, std::string* error) {
    int error_number = EBADF;
    if (fd_ >= 0 && WriteAll(fd_, bytes, &error_number)) return true;
    no_space_ = IsNoSpace(error_number);
    *error = Failure("cannot write", path_, error_number);
    return false;
}

bool AppendFile::Sync(std::string* error) {
    if (fd_ >= 0 && ::fdatasync(fd_) == 0) return true;
    const int error_number = fd_ >= 0 ? errno : EBADF;
    no_space_ = IsNoSpace(error_number);
    *error = Failure("cannot write", path_, error_number);
    return false;
}

bool AppendFile::TruncateTo(std::uint64_t length, std::string* error) {
    if (fd_ >= 0 && ::ftruncate(fd_, static_cast<off_t>(length)) == 0 &&
        ::lseek(fd_, static_cast<off_t>(length), SEEK_SET) >= 0)
        return true;
    *error = Failure("cannot shorten", path_, fd_ >= 0 ? errno : EBADF);
    return false;
}

void AppendFile::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool ReplaceFile(const std::string& path, const std::string& contents, std::string* error) {
    const std::string temporary = path + ".new";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        *error = Failure("cannot write", path, errno);
        return false;
    }
    int error_number = 0;
    const auto* data = reinterpret_cast<const std::uint8_t*>(contents.data());
    bool ok = WriteAll(fd, {data, contents.size()}, &error_number);
    if (ok && ::fdatasync(fd) != 0) {
        error_number = errno;
        ok = false;
    }
    ::close(fd);
    if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) {
        error_number = errno;
        ok = false;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        *error = Failure("cannot write", path, error_number);
        return false;
    }
    // The rename itself reaches the disk with the folder.
    const int folder = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

std::optional<std::uint64_t> FreeBytes(const std::string& path, std::string* error) {
    struct statvfs facts {};
    if (::statvfs(path.c_str(), &facts) != 0) {
        *error = Failure("cannot look at", path, errno);
        return std::nullopt;
    }
    return std::uint64_t{facts.f_bavail} * facts.f_frsize;
}

LocalTime ToLocalTime(std::time_t seconds) {
    LocalTime local;
    ::localtime_r(&seconds, &local.fields);
    local.utc_offset_seconds = local.fields.tm_gmtoff;
    return local;
}

}  // namespace platform
