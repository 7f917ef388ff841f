// Brondel's main window: two servers side by side, each with its own pair of connections, decoder,
// buffers, menu item, address box, status box and snapshot button; the sound of the server whose option
// button is selected; frame requests paced by Timer1 (after each server's first request, the next one
// goes out at the next tick after a frame was shown). Each server's session runs as Quillon's does: 接続中…
// until its first frame or sound block, then 接続しました。; it ends when either of its connections closes
// or resets, when it stops answering, sends nothing within 10 s or cannot be reached: both of its
// connections close, its status reads why, its half of the picture turns grey under the time it was shown
// (and is no longer repainted), and its 接続 item connects again with one click (with reconnecting on, its
// keeper tries again instead).
#pragma once

#include <array>
#include <ctime>
#include <string>

#include "platform/window/timer.h"
#include "receiver/init_file.h"
#include "receiver/link_keeper.h"
#include "receiver/raw_out.h"
#include "receiver/receiver_window.h"
#include "receiver/server_link.h"

namespace receiver {

class BrondelWindow : public ReceiverWindow {
  public:
    static constexpr const char* kCaption = "Brondel Ver1.10";
    static constexpr int kServers = 2;
    static constexpr int kDesignInterval = 200;  // ms, until init.txt gives another

    // Items given on the command line for one run, each standing in for init.txt's (empty / -1: not
    // given): the servers' addresses and the timer interval.
    struct ItemOptions {
        std::array<std::string, 2> servers;
        int interval_ms = -1;
        bool Any() const { return !servers[0].empty() || !servers[1].empty() || interval_ms >= 0; }
    };

    explicit BrondelWindow(Ports ports = {});
    ~BrondelWindow() override;

    void Form_Load();
    void mnuCon_Click(int Index);
    void mnu_Danger_Click();
    void mnuEnd_Click();
    void Command3_Click(int Index);
    void Option1_Click(int Index);
    void Timer1_Timer();
    void ThisExit();
    void RecvBitMapShow();

    // Headless "quit", SIGINT and SIGTERM: as the Exit item, also while connected.
    void Quit();
    void SetRawOut(int Index, RawOut* out) { raw_out_[Index] = out; }
    // Before Form_Load: --server1, --server2 and --interval.
    void SetItemOptions(ItemOptions options) { item_options_ = std::move(options); }
    // --reconnect: after a lost or failed connection, try that server again every 3 s.
    void SetReconnect(bool on);
    // The address that init.txt or the command line names for server i; empty when neither does.
    const std::string& NamedServer(int i) const { return Items[i]; }
    LinkKeeper& Keeper(int i) { return keepers_[i]; }

    CSock& VideoClient(int i) { return links_[i].VideoClient; }
    CSock& WaveClient(int i) { return links_[i].WaveClient; }
    CCODEC& Codec(int i) { return links_[i].Codec; }
    BmpBuffer& BmpBuf(int i) { return links_[i].BmpBuf; }
    // Frames shown per server.
    long FramesOf(int i) const { return frames_[i]; }

    std::array<platform::Flag, kServers> fNext{};
    std::array<platform::Flag, kServers> fShow{};
    std::array<platform::Flag, kServers> fCon{};
    int SnapIndex = 0;

    platform::PictureBox& Picture2;
    std::array<platform::TextBox*, kServers> Text2;
    std::array<platform::Button*, kServers> Command3;
    std::array<platform::TextBox*, kServers> Text1;
    std::array<platform::OptionButton*, kServers> Option1;
    std::array<platform::Label*, kServers> Label1;  // over an old picture: when it was shown
    platform::Timer Timer1;
    platform::Menu& mnu_Danger;
    std::array<platform::Menu*, kServers> mnuCon;
    platform::Menu& mnuEnd;

  protected:
    void OnConnect(SOCKET sock) override;
    void OnConnectFailed(SOCKET sock, int error) override;
    void OnWrite(SOCKET sock) override;
    void OnRead(SOCKET sock) override;
    void OnClose(SOCKET sock) override;

  private:
    struct Found {
        int index = -1;
        ServerLink::Kind kind = ServerLink::Kind::kNone;
    };
    // Which server and connection a socket belongs to, looking at server 1's video and sound
    // connections, then server 2's.
    Found Locate(SOCKET sock) const;
    void BuildControls();
    void ReadInitFile();
    void SendAlarm(const Found& from);
    void RequestFrame(int i);
    void FrameArrived(int i);
    void StartAttempt(int i);
    void Established(int i);
    // Closes both of server i's connections and shows status and its picture as old.
    void CloseSession(int i, const std::string& status);
    // CloseSession, then either waits for the next attempt or returns its item to 接続.
    void EndSession(int i, const std::string& status);
    void Reconnect(int i, int attempt);
    void ShowConnectItem(int i, bool connected);
    void ShowPictureAsOld(int i);
    void BindKeys();
    void EnableExitWhenBothVideoClosed();

    ItemOptions item_options_;
    std::array<ServerLink, kServers> links_;
    std::array<LinkKeeper, kServers> keepers_;
    std::array<RawOut*, kServers> raw_out_{};
    std::array<long, kServers> frames_{};
    std::array<bool, kServers> picture_old_{};
    std::array<std::time_t, kServers> picture_time_{};
};

}  // namespace receiver
