// Errors met while a message is handled are shown in a message box, one box at a time: while a box is
// open the message loop goes on (the next frame may fail the same way), and such errors are counted
// instead of piling up further boxes.
#pragma once

#include <string>

namespace receiver {

class ErrorBox {
  public:
    void Report(const std::string& description);
    bool Open() const { return open_; }
    // Errors that came while a box was open and were not shown.
    long Suppressed() const { return suppressed_; }
    long Shown() const { return shown_; }

  private:
    bool open_ = false;
    long suppressed_ = 0;
    long shown_ = 0;
};

// The description of a codec failure (status 6 or 9) in the words of a run-time error.
std::string CodecErrorText(int status);

}  // namespace receiver
