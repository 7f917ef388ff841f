// Where the console front-end reads its commands: standard input by default, a file or FIFO that the user
// names, or nowhere (when standard input carries something else, such as raw frames). A FIFO is opened for
// reading and writing, so that opening it does not wait for a writer and the console keeps reading it after
// one writer has gone; a file is read to its end. The object owns what it opened.
#pragma once

#include <string>

namespace platform {

class CommandInput {
  public:
    CommandInput() = default;
    ~CommandInput();
    CommandInput(const CommandInput&) = delete;
    CommandInput& operator=(const CommandInput&) = delete;

    // Reads the commands from path from now on; false with *error set when it cannot be opened.
    bool Open(const std::string& path, std::string* error);
    // No commands at all.
    void Close();
    // The descriptor for ConsoleFrontend: 0 (standard input), an opened file, or -1 for none.
    int Fd() const { return fd_; }

  private:
    int fd_ = 0;
    bool owned_ = false;
};

}  // namespace platform
