// Brondel's main window: two servers side by side, each with its own pair of connections, decoder,
// buffers, menu item, address box, status box and snapshot button; the sound of the server whose option
// button is selected; frame requests paced by Timer1 (after each server's first request, the next one
// goes out at the next tick after a frame was shown).
#pragma once

#include <array>
#include <string>

#include "platform/window/timer.h"
#include "receiver/init_file.h"
#include "receiver/raw_out.h"
#include "receiver/receiver_window.h"
#include "receiver/server_link.h"

namespace receiver {

class BrondelWindow : public ReceiverWindow {
  public:
    static constexpr const char* kCaption = "Brondel Ver1.10";
    static constexpr int kServers = 2;
    static constexpr int kDesignInterval = 200;  // ms, until init.txt gives another

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
    int DrawWidth = 0;
    int DrawHeight = 0;
    InitItems Items;

    platform::PictureBox& Picture2;
    std::array<platform::TextBox*, kServers> Text2;
    std::array<platform::Button*, kServers> Command3;
    std::array<platform::TextBox*, kServers> Text1;
    std::array<platform::OptionButton*, kServers> Option1;
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
    void FrameArrived(int i);
    void ShowItemAsConnect(int i);
    void EnableExitWhenBothVideoClosed();

    Ports ports_;
    std::array<ServerLink, kServers> links_;
    std::array<RawOut*, kServers> raw_out_{};
    std::array<long, kServers> frames_{};
};

}  // namespace receiver
