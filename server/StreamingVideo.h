// StreamingVideo: the server's main window. It sets the server up when loaded and first activated, starts
// listening on "サーバー", lists the receivers every 2 seconds and drops those that stopped asking, lets the
// operator drop one by hand, flips the security mode and shuts everything down in order on "終了" (and on
// the close box, which runs the same shutdown after asking when receivers are connected). Its status line
// keeps a listening failure on screen and tells once that a missing chime or alarm file means silence.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/ui/controls.h"
#include "platform/window/timer.h"
#include "platform/window/window.h"
#include "server/server.h"
#include "server/server_settings.h"

namespace tessaly {

class StreamingVideo {
  public:
    static constexpr const char* kCaption = "Tessaly V1.10";

    explicit StreamingVideo(ServerSettings settings = {});
    StreamingVideo(const StreamingVideo&) = delete;
    StreamingVideo& operator=(const StreamingVideo&) = delete;

    void Form_Load();
    void Form_Activate();
    void mnuServer_Click();
    void mnUSec_Click();
    void mnuEND_Click();
    void Timer1_Timer();
    void List1_DblClick();
    void ThisExit();
    void ClientClose(std::int32_t Num);

    // The server that this window owns and shows.
    Server& server() { return *server_; }
    platform::Form& form() { return form_; }
    platform::Window& window() { return window_; }
    platform::ListBox& List1() { return *list1_; }
    platform::TextBox& Text1() { return *text1_; }
    platform::Timer& Timer1() { return timer1_; }
    platform::Menu& mnuServer() { return *mnu_server_; }
    platform::Menu& mnuH() { return *mnu_h_; }
    platform::Menu& mnUSec() { return *mnu_sec_; }
    platform::Menu& mnuEND() { return *mnu_end_; }
    bool fEnd() const { return f_end_; }

    // Whether the status text shows the watch (a live event, today's events): the window does; headless
    // Tessaly prints a line at each event instead.
    void ShowWatchInStatus(bool show) { show_watch_in_status_ = show; }

    // The console's "drop N": the row of slot N, double-clicked and confirmed. False when no row shows N.
    bool DropSlot(std::int32_t Num);

  private:
    void BuildControls();
    bool OnQueryUnload(platform::UnloadMode mode);
    int ConnectedReceivers() const;
    // Writes the ports listened on to --port-file, when it was given.
    void WritePorts();
    void StartWatching();
    // Text1: the serving line, and the watch's part when shown.
    void ShowStatus();

    ServerSettings settings_;
    platform::Window window_;
    platform::Form form_{"StreamingVideo"};
    std::unique_ptr<Server> server_;  // after the form: its capture shows in the form's preview box
    platform::ListBox* list1_ = nullptr;
    platform::TextBox* text1_ = nullptr;
    platform::Menu* mnu_server_ = nullptr;
    platform::Menu* mnu_h_ = nullptr;
    platform::Menu* mnu_sec_ = nullptr;
    platform::Menu* mnu_end_ = nullptr;
    platform::Timer timer1_;
    bool f_end_ = false;
    bool activated_ = false;
    std::string
        sound_notice_;  // " danger.wav を開けず、警報は鳴りません。" and the like; empty when both play
    bool show_watch_in_status_ = false;
    std::string serving_text_;
};

}  // namespace tessaly
