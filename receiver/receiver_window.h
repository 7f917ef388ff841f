// What Quillon's and Brondel's main windows share: the hooked window procedure that gets every socket and
// sound-output notification, the sound player, the alarm and sound-output flags, the one-box-at-a-time
// error reporting and the frame statistics. Each window supplies its socket steps.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "audio/CWAVE.h"
#include "net/CSock.h"
#include "platform/ui/controls.h"
#include "platform/window/error_box.h"
#include "platform/window/window.h"
#include "receiver/frame_stats.h"
#include "receiver/init_file.h"
#include "receiver/server_link.h"
#include "receiver/status_text.h"

namespace receiver {

// The description of a codec failure (codec::kStatusOverflow or kStatusSubscript) in the words of a run-time
// error.
std::string CodecErrorText(int status);

class ReceiverWindow {
  public:
    using SOCKET = CSock::SOCKET;

    explicit ReceiverWindow(Ports ports);
    virtual ~ReceiverWindow();
    ReceiverWindow(const ReceiverWindow&) = delete;
    ReceiverWindow& operator=(const ReceiverWindow&) = delete;

    platform::Form& GetForm() { return form_; }
    platform::HWND Handle() { return &window_; }

    // Subclassing of the main window: every message goes to WindowProc, which passes it on to the
    // procedure it replaced first.
    void HookWindow(platform::HWND hWnd);
    void UnhookWindow(platform::HWND hWnd);
    platform::LRESULT WindowProc(platform::HWND hWnd, platform::UINT uMsg, platform::WPARAM wParam,
                                 platform::LPARAM lParam);

    CWAVE Wave;
    platform::Flag fDanger = platform::kFalse;   // an alarm request waits for the next read notification
    platform::Flag fWaveOut = platform::kFalse;  // the sound output reported itself open
    platform::Flag fSnap = platform::kFalse;
    platform::Flag fBusy = platform::kFalse;
    platform::WNDPROC PrevWndProc;
    // The painted picture's size in pixels (a negative width paints it mirrored) and init.txt's items.
    int DrawWidth = 0;
    int DrawHeight = 0;
    InitItems Items;

    // Every activation keeps the window on top of the others.
    void Form_Activate();
    // The close box and the system menu are refused with a message (true cancels the close); only the
    // Exit item ends the program.
    bool Form_QueryUnload(platform::UnloadMode mode);

    const platform::ErrorBox& Errors() const { return errors_; }
    const FrameStats& Stats() const { return stats_; }
    // Blocks of the playback queue, for the headless figures.
    int SoundQueueDepth() const { return Wave.QueueCount; }

  protected:
    virtual void OnConnect(SOCKET sock) = 0;
    virtual void OnConnectFailed(SOCKET sock, int error) = 0;
    virtual void OnWrite(SOCKET sock) = 0;
    virtual void OnRead(SOCKET sock) = 0;
    virtual void OnClose(SOCKET sock) = 0;

    // Opens the sound output with notifications to hMainWnd (MM_WOM_OPEN follows when it is open).
    void OpenSoundOutput();
    // Hands a complete sound block to the player: Play while playback runs, else StartPlay (which primes
    // the queue). Dropped while the output has not reported itself open.
    void PlayBlock(std::span<const std::uint8_t, CSock::kWaveBlockBytes> block);
    void ReportError(const std::string& description) { errors_.Report(description); }
    // The first start: init.txt at path is missing and no server is named for this run. Asks for one
    // address per prompt and writes init.txt with the answers, then the items of extra: true when
    // written. Without a dialog to ask in, the user is told once to name a server with option instead.
    bool AskForInitFile(const std::string& path, const std::vector<std::string>& prompts,
                        const std::string& extra, const std::string& option);
    void CountPaintedFrame(const std::uint8_t* picture);

    Ports ports_;  // the servers' video and sound ports
    platform::Form form_{"StreamingVideo"};
    platform::Window window_;

  private:
    void DispatchSocket(SOCKET sock, platform::LPARAM lParam);

    platform::ErrorBox errors_;
    FrameStats stats_;
};

// Converts a window's outer size in twips (15 to a pixel) to the client size its frame, caption and menu
// bar leave.
void SetOuterSizeTwips(platform::Form& form, int width_twips, int height_twips);

}  // namespace receiver
