#include "receiver/brondel_window.h"

#include <cstdio>
#include <filesystem>

#include "platform/window/paths.h"
#include "platform/winsock/winsock.h"
#include "receiver/status_text.h"

namespace receiver {

namespace {

constexpr platform::Color kWindowColor = platform::Rgb(192, 192, 255);
constexpr platform::Color kPictureColor = platform::Rgb(240, 240, 240);
constexpr const char* kFontName = "ＭＳ 明朝";
// Where picture i lands: destination x of the mirrored painting (10 - DrawWidth, 330 - DrawWidth).
constexpr std::array<int, 2> kPictureLeft = {10, 330};

std::string Digit(int i) {
    return std::to_string(i + 1);
}
std::string Indexed(const char* name, int i) {
    return std::string(name) + "(" + std::to_string(i) + ")";
}

}  // namespace

BrondelWindow::BrondelWindow(Ports ports)
    : ReceiverWindow(ports),
      Picture2(form_.AddPictureBox("Picture2", {0, 0, 665, 265})),
      mnu_Danger(form_.AddMenu("mnu_Danger", "警告")),
      mnuCon{{&form_.AddMenu("mnuCon(0)", "接続1"), &form_.AddMenu("mnuCon(1)", "接続2")}},
      mnuEnd(form_.AddMenu("mnuEnd", "終了")) {
    BuildControls();
    Timer1.SetHandler([this] { Timer1_Timer(); });
    Timer1.SetInterval(kDesignInterval);
}

void BrondelWindow::BuildControls() {
    form_.SetCaption(kCaption);
    form_.SetBackColor(kWindowColor);
    form_.SetFont({kFontName, 9});
    form_.SetClientSize(662, 342);
    Picture2.SetBackColor(kPictureColor);
    Picture2.Cls();
    for (int i = 0; i < kServers; ++i) {
        const int left = i * 328;
        Text2[i] = &form_.AddTextBox(Indexed("Text2", i), {8 + left, 272, 217, 25});
        Text2[i]->SetFont({"", 12});
        Command3[i] = &form_.AddButton(Indexed("Command3", i), "撮影", {232 + left, 272, 57, 25});
        Text1[i] = &form_.AddTextBox(Indexed("Text1", i), {8 + left, 304, 217, 25});
        Text1[i]->MarkAsStatus("server " + Digit(i));
        Text1[i]->SetLocked(true);
        Option1[i] = &form_.AddOptionButton(Indexed("Option1", i), i == 0 ? "音声１" : "音声２",
                                            {232 + left, 304, 57, 25}, "Option1");
        Option1[i]->SetBackColor(kWindowColor);
        Label1[i] = &form_.AddLabel(Indexed("Label1", i), "", {14 + i * 320, 14, 130, 16});
        Label1[i]->SetVisible(false);
        Command3[i]->OnClick([this, i] { Command3_Click(i); });
        Option1[i]->OnClick([this, i] { Option1_Click(i); });
        mnuCon[i]->OnClick([this, i] { mnuCon_Click(i); });
        keepers_[i].OnEstablished([this, i] { Established(i); });
        keepers_[i].OnLost([this, i] { EndSession(i, kDisconnectedText); });
        keepers_[i].OnTimedOut([this, i] { EndSession(i, ConnectFailedText(winsock::WSAETIMEDOUT)); });
        keepers_[i].OnRetryWaiting([this, i](int attempt) { Text1[i]->SetText(RetryText(attempt)); });
        keepers_[i].OnRetry([this, i](int attempt) { Reconnect(i, attempt); });
        keepers_[i].OnPauseOver([this, i] { fNext[i] = platform::kTrue; });
    }
    mnu_Danger.OnClick([this] { mnu_Danger_Click(); });
    mnuEnd.OnClick([this] { mnuEnd_Click(); });
    BindKeys();
}

void BrondelWindow::BindKeys() {
    for (int i = 0; i < kServers; ++i) {
        ShowConnectItem(i, false);
        Command3[i]->SetKeys({0, "Ctrl+" + Digit(i)});
    }
    mnu_Danger.SetKeys({'W', {}});
    mnuEnd.SetKeys({'X', "Ctrl+Q"});
}

BrondelWindow::~BrondelWindow() {
    Timer1.SetInterval(0);
    for (LinkKeeper& keeper : keepers_) keeper.Stop();
    for (ServerLink& link : links_) link.CloseBoth();
    if (Wave.m_hWaveOut != 0) Wave.WaveOutStop();
    if (hMainWnd == &window_) {
        UnhookWindow(hMainWnd);
        hMainWnd = nullptr;
    }
    for (ServerLink& link : links_) {
        link.VideoClient.WSAClose();
        link.WaveClient.WSAClose();
    }
}

void BrondelWindow::Form_Load() {
    if (hMainWnd == nullptr) {
        hMainWnd = &window_;
        HookWindow(hMainWnd);
    }
    DrawWidth = -320;
    DrawHeight = 240;
    for (ServerLink& link : links_) link.Codec.敷居 = ServerLink::kCodecThreshold;
    OpenSoundOutput();
    for (platform::Button* button : Command3) button->SetEnabled(false);
    ReadInitFile();
}

void BrondelWindow::SetReconnect(bool on) {
    for (LinkKeeper& keeper : keepers_) keeper.SetReconnect(on);
}

void BrondelWindow::ReadInitFile() {
    const std::string path = platform::InProgramFolder("init.txt");
    const bool given = item_options_.Any();
    // Items on the command line give what a missing file would have given.
    if (!given && !std::filesystem::exists(path) &&
        !AskForInitFile(path, {"サーバー1のアドレス:", "サーバー2のアドレス (なければ空欄):"},
                        "," + std::to_string(kDesignInterval), "--server1"))
        return;
    const bool read = ReadInitItems(path, Items, {}) >= 0;
    if (!read) {
        Items = {};  // a broken file names no server
        if (std::filesystem::exists(path)) ReportError(InitFileErrorText(path));
        if (!given) return;
    }
    for (int i = 0; i < kServers; ++i) {
        if (!item_options_.servers[i].empty()) Items[i] = item_options_.servers[i];
        Text2[i]->SetText(Items[i]);
    }
    if (item_options_.interval_ms >= 0) {
        Timer1.SetInterval(item_options_.interval_ms);
    } else if (read) {
        Timer1.SetInterval(IntervalItemValue(Items[2]));
    }
    Option1[0]->SetValue(true);
}

BrondelWindow::Found BrondelWindow::Locate(SOCKET sock) const {
    for (int i = 0; i < kServers; ++i) {
        const ServerLink::Kind kind = links_[i].KindOf(sock);
        if (kind != ServerLink::Kind::kNone) return {i, kind};
    }
    return {};
}

void BrondelWindow::mnuCon_Click(int i) {
    platform::DoEvents();
    if (fCon[i] == platform::kFalse) {
        fCon[i] = platform::kTrue;
        Text1[i]->SetText(kConnectingText);
        ShowConnectItem(i, true);
        fShow[i] = platform::kTrue;
        StartAttempt(i);
        return;
    }
    keepers_[i].Stop();
    CloseSession(i, kDisconnectedText);
    ShowConnectItem(i, false);
    fCon[i] = platform::kFalse;
    fShow[i] = platform::kFalse;
}

void BrondelWindow::ShowConnectItem(int i, bool connected) {
    mnuCon[i]->SetCaption((connected ? "切断" : "接続") + Digit(i));
    mnuCon[i]->SetKeys({Digit(i)[0], {}});
}

void BrondelWindow::StartAttempt(int i) {
    keepers_[i].Connecting();
    links_[i].Connect(ports_, Text2[i]->Text());
}

void BrondelWindow::EnableExitWhenBothVideoClosed() {
    if (links_[0].VideoClient.MySock == 0 && links_[1].VideoClient.MySock == 0) mnuEnd.SetEnabled(true);
}

void BrondelWindow::mnu_Danger_Click() {
    fDanger = platform::kTrue;
    mnu_Danger.SetEnabled(false);
    platform::DoEvents();
}

void BrondelWindow::Command3_Click(int i) {
    fSnap = platform::kTrue;
    SnapIndex = i;
}

void BrondelWindow::Option1_Click(int) {
    // The newly selected server's blocks prime the playback afresh through StartPlay.
    Wave.fPlay = platform::kFalse;
}

void BrondelWindow::mnuEnd_Click() {
    ThisExit();
    form_.Unload();
}

void BrondelWindow::Quit() {
    mnuEnd_Click();
}

void BrondelWindow::ThisExit() {
    Timer1.SetInterval(0);
    for (LinkKeeper& keeper : keepers_) keeper.Stop();
    if (hMainWnd != nullptr) {
        UnhookWindow(hMainWnd);
        hMainWnd = nullptr;
    }
    // Each connection holds its own use of the socket layer, so ending one does not release the others:
    // the connections are closed here, and the sound output is stopped.
    for (ServerLink& link : links_) link.CloseBoth();
    links_[0].VideoClient.WSAClose();
    if (Wave.m_hWaveOut != 0) Wave.WaveOutStop();
    fWaveOut = platform::kFalse;
    mnuEnd.SetEnabled(true);
}

void BrondelWindow::Timer1_Timer() {
    for (int i = 0; i < kServers; ++i) {
        if (fNext[i] == platform::kFalse) continue;
        RequestFrame(i);
        fNext[i] = platform::kFalse;
    }
    platform::DoEvents();
}

void BrondelWindow::RequestFrame(int i) {
    links_[i].VideoClient.SendStartData(kVideoNextRequest);
    keepers_[i].RequestSent();
}

void BrondelWindow::OnConnect(SOCKET sock) {
    const Found found = Locate(sock);
    if (found.index < 0) return;  // a socket closed meanwhile: no server's state changes
    ServerLink& link = links_[found.index];
    if (found.kind == ServerLink::Kind::kVideo) {
        link.VideoConnected(sock);
    } else {
        link.SoundConnected(sock);
    }
    mnuEnd.SetEnabled(false);
    Wave.fLOGIN = platform::kTrue;
}

void BrondelWindow::Established(int i) {
    Text1[i]->SetText(kConnectedText);
    Command3[i]->SetEnabled(true);
}

void BrondelWindow::OnConnectFailed(SOCKET sock, int error) {
    const Found found = Locate(sock);
    if (found.index < 0) return;
    EndSession(found.index, ConnectFailedText(error));
}

void BrondelWindow::CloseSession(int i, const std::string& status) {
    links_[i].CloseBoth();
    fNext[i] = platform::kFalse;
    Text1[i]->SetText(status);
    Command3[i]->SetEnabled(false);
    EnableExitWhenBothVideoClosed();
    ShowPictureAsOld(i);
}

void BrondelWindow::EndSession(int i, const std::string& status) {
    CloseSession(i, status);
    if (keepers_[i].ScheduleRetry()) {
        ShowConnectItem(i, true);  // 切断 stops the attempts
        return;
    }
    ShowConnectItem(i, false);
    fCon[i] = platform::kFalse;
    fShow[i] = platform::kFalse;
}

void BrondelWindow::Reconnect(int i, int attempt) {
    Text1[i]->SetText(RetryText(attempt));
    StartAttempt(i);
}

void BrondelWindow::ShowPictureAsOld(int i) {
    if (frames_[i] == 0 || picture_old_[i]) return;
    picture_old_[i] = true;
    Picture2.Dim({kPictureLeft[i], 10, kPictureWidth, kPictureHeight});
    Label1[i]->SetCaption(OldPictureText(picture_time_[i]));
    Label1[i]->SetVisible(true);
}

void BrondelWindow::OnWrite(SOCKET sock) {
    const Found found = Locate(sock);
    if (found.kind == ServerLink::Kind::kVideo) RequestFrame(found.index);
}

void BrondelWindow::SendAlarm(const Found& from) {
    // The server reads requests on the video connection only: the notification's server, else the other.
    const int first = from.index < 0 ? 0 : from.index;
    for (int k = 0; k < kServers; ++k) {
        CSock& video = links_[(first + k) % kServers].VideoClient;
        if (video.MySock == 0) continue;
        video.SendStartData(kDangerRequest);
        break;
    }
}

void BrondelWindow::OnRead(SOCKET sock) {
    if (fDanger != platform::kFalse) {
        SendAlarm(Locate(sock));
        fDanger = platform::kFalse;
        mnu_Danger.SetEnabled(true);
    }
    platform::DoEvents();
    const Found found = Locate(sock);
    if (found.index < 0) return;
    ServerLink& link = links_[found.index];
    if (found.kind == ServerLink::Kind::kVideo) {
        if (link.ReadFrame()) FrameArrived(found.index);
        return;
    }
    const bool complete = link.ReadSoundBlock();
    keepers_[found.index].SoundArrived();  // the selected server's or not, it is alive
    if (!Option1[found.index]->Value() || !complete) return;
    link.WaveClient.FWG = platform::kFalse;
    PlayBlock(link.SoundBlock());
}

void BrondelWindow::FrameArrived(int i) {
    ServerLink& link = links_[i];
    keepers_[i].FrameAnswered();
    link.VideoClient.FLG = platform::kFalse;
    // A server with no picture yet is asked again after a pause, not at every tick.
    if (!link.FrameHasPicture()) return keepers_[i].PauseBeforeNextRequest();
    // A frame that fails to decode costs that frame only: the next tick asks again.
    fNext[i] = platform::kTrue;
    const int status = link.DecodeFrame();
    if (status != 0) return ReportError(CodecErrorText(status));
    if (raw_out_[i] != nullptr && raw_out_[i]->IsOpen()) {
        std::string error;
        if (!raw_out_[i]->Write(link.BmpBuf.data(), &error))
            std::fprintf(stderr, "brondel: %s\n", error.c_str());
    }
    ++frames_[i];
    picture_old_[i] = false;
    picture_time_[i] = std::time(nullptr);
    Label1[i]->SetVisible(false);
    RecvBitMapShow();
    CountPaintedFrame(link.BmpBuf.data());
}

void BrondelWindow::OnClose(SOCKET sock) {
    const Found found = Locate(sock);
    if (found.index < 0) return;
    // Either connection ends the session (the sound alone could not come back; see Quillon's window). A
    // server that closes before sending anything turned the receiver away.
    EndSession(found.index, keepers_[found.index].Established() ? kDisconnectedText : kTurnedAwayText);
}

void BrondelWindow::RecvBitMapShow() {
    if (fBusy != platform::kFalse) return;
    fBusy = platform::kTrue;
    for (int i = 0; i < kServers; ++i) {
        if (fShow[i] == platform::kFalse || picture_old_[i]) continue;  // an old picture stays grey
        PaintPicture(Picture2, kPictureLeft[i] - DrawWidth, 10, DrawWidth, DrawHeight, links_[i].BmpBuf);
    }
    fBusy = platform::kFalse;
    if (fSnap == platform::kFalse) return;
    fSnap = platform::kFalse;
    std::string error;
    const std::string path = platform::InProgramFolder("PICTUTE" + std::to_string(SnapIndex) + ".BMP");
    if (!WriteSnapshot(path, links_[SnapIndex].BmpBuf, &error)) ReportError(SnapshotFailedText(path));
}

}  // namespace receiver
