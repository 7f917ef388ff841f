// Quillon's main window: one server, its picture at 320 x 240 or doubled to 640 x 480 (mirrored left to
// right), its sound, the alarm request and the snapshot file PICTUTE.BMP. Frames are requested one after
// another: the next request leaves as soon as a frame has arrived, before it is decoded and painted.
// The status reads 接続中… from the click until the first frame or sound block, then 接続しました。. The
// session ends when the server closes or resets either connection, stops answering (LinkKeeper), sends
// nothing within 10 s or cannot be reached: both connections are closed, the status reads why, the last
// picture turns grey under the time it was shown, and 接続 connects again (with reconnecting on, the
// keeper tries again instead). A lost sound connection ends the session too: the server pairs a new sound
// connection with a waiting video connection, never with one that is already paired, so the sound alone
// could not come back. The user's 切断 ends the session in the same way and the item reads 接続 again.
#pragma once

#include <ctime>
#include <string>

#include "receiver/init_file.h"
#include "receiver/link_keeper.h"
#include "receiver/raw_out.h"
#include "receiver/receiver_window.h"
#include "receiver/server_link.h"

namespace receiver {

class QuillonWindow : public ReceiverWindow {
  public:
    static constexpr const char* kCaption = "Quillon Ver1.10";

    explicit QuillonWindow(Ports ports = {});
    ~QuillonWindow() override;

    // Start-up: layout, hook, codec threshold, sound output, size list, init.txt.
    void Form_Load();
    void mnuConnect_Click();
    void mnu_Danger_Click();
    void mnuEnd_Click();
    void Command3_Click();
    void Combo1_Click();
    void ThisExit();
    void RecvBitMapShow();

    // Headless "quit", SIGINT and SIGTERM: tear down and end, also while connected.
    void Quit();
    // Sends every decoded picture to out as well (null: none).
    void SetRawOut(RawOut* out) { raw_out_ = out; }
    // --server: the address to use instead of init.txt's first item, for this run (before Form_Load).
    void SetServer(std::string host) { server_ = std::move(host); }
    // --reconnect: after a lost or failed connection, try again every 3 s.
    void SetReconnect(bool on) { keeper_.SetReconnect(on); }
    // The server that --server or init.txt names; empty when neither does (the address box then holds
    // the built-in default, which only the user's own 接続 uses).
    const std::string& NamedServer() const { return named_server_; }
    LinkKeeper& Keeper() { return keeper_; }

    ServerLink link;
    CSock& VideoClient = link.VideoClient;
    CSock& WaveClient = link.WaveClient;
    CCODEC& Codec = link.Codec;
    BmpBuffer& BmpBuf = link.BmpBuf;

    platform::Flag fCon = platform::kFalse;
    platform::Flag fStarted = platform::kFalse;
    int PictureSize = 0;  // 0: "640X480", 1: "320X240"; any other value lays out and paints as 640X480

    platform::PictureBox& Picture2;
    platform::TextBox& Text1;
    platform::TextBox& Text2;
    platform::TextBox& Text3;
    platform::Label& Label1;
    platform::Label& Label2;  // over an old picture: when it was shown
    platform::ComboBox& Combo1;
    platform::Button& Command3;
    platform::Menu& mnu_Danger;
    platform::Menu& mnuConnect;
    platform::Menu& mnuEnd;

  protected:
    void OnConnect(SOCKET sock) override;
    void OnConnectFailed(SOCKET sock, int error) override;
    void OnWrite(SOCKET sock) override;
    void OnRead(SOCKET sock) override;
    void OnClose(SOCKET sock) override;

  private:
    void SetPictureSize(int size);
    void ReadInitFile();
    void RequestFrame();
    void FrameArrived();
    void WriteRawPicture();
    void StartAttempt();
    void Established();
    // Closes both connections and shows status and the picture as old.
    void CloseSession(const std::string& status);
    // CloseSession, then either waits for the next attempt or returns the menu to 接続.
    void EndSession(const std::string& status);
    void Reconnect(int attempt);
    void ShowConnectItem(bool connected);
    void ShowPictureAsOld();
    platform::Place PictureRect() const;

    bool picture_shown_ = false;  // since the window was laid out
    std::time_t picture_time_ = 0;
    RawOut* raw_out_ = nullptr;
    std::string server_;
    std::string named_server_;
    LinkKeeper keeper_;
};

}  // namespace receiver
