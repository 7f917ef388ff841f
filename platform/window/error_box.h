// The programs' one way of reporting errors met while a message is handled (the server's and the receivers'
// window procedures): each is shown in a message box (without a window: one line on standard error). A
// peer that keeps sending what cannot be handled (a receiver's server sending frames that cannot be
// decoded) would bring one per message, thousands a second, so the same error again within a second of its
// box is counted instead, and when the second is over one summary tells how many more there were; the next
// second is held to the same rule. While a box is open the message loop goes on (the next message may fail
// the same way): errors meanwhile are counted too. A different error is shown at once.
#pragma once

#include <string>

#include "platform/window/timer.h"

namespace platform {

class ErrorBox {
  public:
    static constexpr int kSummaryIntervalMs = 1000;

    ErrorBox();
    void Report(const std::string& description);
    // The second after the last box is over: the summary of what was counted since, if anything was. The
    // timer calls it; tests call it themselves.
    void SecondOver();

    bool Open() const { return open_; }
    // Errors that were counted instead of shown in a box of their own.
    long Suppressed() const { return suppressed_; }
    long Shown() const { return shown_; }

  private:
    void Show(const std::string& text);

    platform::Timer timer_;
    bool open_ = false;
    std::string last_shown_;  // the error of the last box (not a summary)
    long pending_ = 0;        // counted since the last box
    std::string pending_text_;
    bool pending_mixed_ = false;
    long suppressed_ = 0;
    long shown_ = 0;
};

}  // namespace platform
