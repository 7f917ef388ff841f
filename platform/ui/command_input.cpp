#include "platform/ui/command_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

CommandInput::~CommandInput() {
    Close();
}

bool CommandInput::Open(const std::string& path, std::string* error) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        *error = "cannot open " + path + " (" + std::strerror(errno) + ")";
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        *error = "cannot read commands from " + path + " (a folder)";
        return false;
    }
    const int mode = S_ISFIFO(info.st_mode) ? O_RDWR : O_RDONLY;
    const int fd = ::open(path.c_str(), mode | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = "cannot open " + path + " (" + std::strerror(errno) + ")";
        return false;
    }
    Close();
    fd_ = fd;
    owned_ = true;
    return true;
}

void CommandInput::Close() {
    if (owned_) ::close(fd_);
    owned_ = false;
    fd_ = -1;
}

}  // namespace platform
