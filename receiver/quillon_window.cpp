#include "receiver/quillon_window.h"

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
constexpr const char* kDefaultAddress = "192.168.0.100";
constexpr const char* kSize640 = "640X480";
constexpr const char* kSize320 = "320X240";

platform::Form& BuildForm(platform::Form& form) {
    form.SetCaption(QuillonWindow::kCaption);
    form.SetBackColor(kWindowColor);
    form.SetFont({kFontName, 9});
    return form;
}

}  // namespace

QuillonWindow::QuillonWindow(Ports ports)
    : ReceiverWindow(ports),
      Picture2(BuildForm(form_).AddPictureBox("Picture2", {0, 0, 661, 501})),
      Text1(form_.AddTextBox("Text1", {8, 512, 257, 25})),
      Text2(form_.AddTextBox("Text2", {272, 512, 217, 25}, kDefaultAddress)),
      Text3(form_.AddTextBox("Text3", {8, 544, 400, 25})),
      Label1(form_.AddLabel("Label1", "サイズ", {512, 520, 37, 11})),
      Label2(form_.AddLabel("Label2", "", {14, 14, 130, 16})),
      Combo1(form_.AddComboBox("Combo1", {560, 512, 97, 20})),
      Command3(form_.AddButton("Command3", "撮影", {432, 544, 57, 25})),
      mnu_Danger(form_.AddMenu("mnu_Danger", "警告")),
      mnuConnect(form_.AddMenu("mnuConnect", "接続")),
      mnuEnd(form_.AddMenu("mnuEnd", "終了")) {
    Picture2.SetBackColor(kPictureColor);
    Picture2.Cls();
    Label1.SetBackColor(kWindowColor);
    Label2.SetVisible(false);
    ShowConnectItem(false);
    mnu_Danger.SetKeys({'W', {}});
    mnuEnd.SetKeys({'X', "Ctrl+Q"});
    Command3.SetKeys({0, "Ctrl+S"});
    Text1.MarkAsStatus();
    Text1.SetLocked(true);
    mnuConnect.OnClick([this] { mnuConnect_Click(); });
    mnu_Danger.OnClick([this] { mnu_Danger_Click(); });
    mnuEnd.OnClick([this] { mnuEnd_Click(); });
    Command3.OnClick([this] { Command3_Click(); });
    Combo1.OnClick([this] { Combo1_Click(); });
    keeper_.OnEstablished([this] { Established(); });
    keeper_.OnLost([this] { EndSession(kDisconnectedText); });
    keeper_.OnTimedOut([this] { EndSession(ConnectFailedText(winsock::WSAETIMEDOUT)); });
    keeper_.OnRetryWaiting([this](int attempt) { Text1.SetText(RetryText(attempt)); });
    keeper_.OnRetry([this](int attempt) { Reconnect(attempt); });
    keeper_.OnPauseOver([this] { RequestFrame(); });
}

QuillonWindow::~QuillonWindow() {
    keeper_.Stop();
    link.CloseBoth();
    if (Wave.m_hWaveOut != 0) Wave.WaveOutStop();
    if (hMainWnd == &window_) {
        UnhookWindow(hMainWnd);
        hMainWnd = nullptr;
    }
    VideoClient.WSAClose();
    WaveClient.WSAClose();
}

void QuillonWindow::Form_Load() {
    SetPictureSize(PictureSize);
    if (hMainWnd == nullptr) {
        hMainWnd = &window_;
        HookWindow(hMainWnd);
    }
    DrawWidth = -320;
    DrawHeight = 240;
    Codec.敷居 = ServerLink::kCodecThreshold;
    OpenSoundOutput();
    Combo1.SetText(kSize640);
    Combo1.AddItem(kSize640);
    Combo1.AddItem(kSize320);
    Command3.SetEnabled(false);
    ReadInitFile();
}

void QuillonWindow::ReadInitFile() {
    const std::string path = platform::InProgramFolder("init.txt");
    if (server_.empty() && !std::filesystem::exists(path) &&
        !AskForInitFile(path, {"サーバーのアドレス:"}, "", "--server"))
        return;
    const int read = ReadInitItems(path, Items, [this](int index) {
        const std::string& item = Items[index];
        if (item.find("SIZE") == std::string::npos) return;
        PictureSize = SizeItemValue(item);
        SetPictureSize(PictureSize);
    });
    const bool has_address = read >= 0 && !Items[0].empty() && Items[0].find("SIZE") == std::string::npos;
    named_server_ = !server_.empty() ? server_ : has_address ? Items[0] : "";
    if (!server_.empty()) Text2.SetText(server_);
    if (read < 0) {
        // --server gives what a missing file would have given.
        if (std::filesystem::exists(path)) ReportError(InitFileErrorText(path));
        return;
    }
    if (server_.empty()) Text2.SetText(Items[0]);
}

void QuillonWindow::SetPictureSize(int size) {
    // A picture drawn in the other layout is not the one to show as old.
    picture_shown_ = false;
    Label2.SetVisible(false);
    if (size == 1) {
        SetOuterSizeTwips(form_, 5595, 6555);
        Picture2.Cls();
        Picture2.Move(0, 0, 365, 277);
        Text1.Move(8, 288, 153, 25);
        Text2.Move(8, 320, 153, 25);
        Text3.Move(8, 352, 353, 25);
        Combo1.Move(248, 288, 100, 20);
        Label1.Move(192, 296);
        Command3.Move(168, 320);
        Label2.Move(24, 24);
        Combo1.SetText(kSize320);
        return;
    }
    Combo1.SetText(kSize640);
    SetOuterSizeTwips(form_, 10080, 9450);
    Picture2.Move(0, 0, 661, 501);
    Text1.Move(8, 512, 257, 25);
    Text2.Move(272, 512, 217, 25);
    Text3.Move(8, 544, 400, 25);
    Combo1.Move(560, 512, 97, 20);
    Label1.Move(512, 520);
    Command3.Move(432, 544);
    Label2.Move(14, 14);
}

platform::Place QuillonWindow::PictureRect() const {
    // Where RecvBitMapShow paints: 320 x 240 at (20, 20), or doubled at (10, 10).
    if (PictureSize == 1) return {20, 20, 320, 240};
    return {10, 10, 640, 480};
}

void QuillonWindow::Combo1_Click() {
    if (Combo1.ListIndex() < 0) return;
    PictureSize = Combo1.ListIndex();
    SetPictureSize(PictureSize);
}

void QuillonWindow::mnuConnect_Click() {
    if (fCon == platform::kFalse) {
        fCon = platform::kTrue;
        fStarted = platform::kTrue;
        Text1.SetText(kConnectingText);
        ShowConnectItem(true);
        StartAttempt();
        return;
    }
    // The user's 切断: attempts stop too, and the item connects again.
    keeper_.Stop();
    CloseSession(kDisconnectedText);
    fCon = platform::kFalse;
    ShowConnectItem(false);
}

void QuillonWindow::ShowConnectItem(bool connected) {
    mnuConnect.SetCaption(connected ? "切断" : "接続");
    mnuConnect.SetKeys({connected ? 'D' : 'C', {}});
}

void QuillonWindow::StartAttempt() {
    keeper_.Connecting();
    link.Connect(ports_, Text2.Text());
}

void QuillonWindow::mnu_Danger_Click() {
    fDanger = platform::kTrue;
    mnu_Danger.SetEnabled(false);
    platform::DoEvents();
}

void QuillonWindow::Command3_Click() {
    fSnap = platform::kTrue;
}

void QuillonWindow::mnuEnd_Click() {
    // The item is enabled only while no session runs; the teardown is the same whether one ran or not.
    ThisExit();
    form_.Unload();
}

void QuillonWindow::Quit() {
    ThisExit();
    form_.Unload();
}

void QuillonWindow::ThisExit() {
    keeper_.Stop();
    link.CloseBoth();
    if (hMainWnd != nullptr) {
        UnhookWindow(hMainWnd);
        hMainWnd = nullptr;
    }
    VideoClient.WSAClose();
    // Stops the sound output, so that nothing plays on and a recording output is finished.
    if (Wave.m_hWaveOut != 0) Wave.WaveOutStop();
    fWaveOut = platform::kFalse;
    mnuEnd.SetEnabled(true);
}

void QuillonWindow::OnConnect(SOCKET sock) {
    switch (link.KindOf(sock)) {
        case ServerLink::Kind::kVideo:
            link.VideoConnected(sock);
            break;
        case ServerLink::Kind::kSound:
            link.SoundConnected(sock);
            Wave.fLOGIN = platform::kTrue;
            break;
        case ServerLink::Kind::kNone:
            return;  // a connect queued for a socket closed meanwhile
    }
    mnuEnd.SetEnabled(false);
}

void QuillonWindow::Established() {
    Text1.SetText(kConnectedText);
    Command3.SetEnabled(true);
}

void QuillonWindow::OnConnectFailed(SOCKET sock, int error) {
    if (link.KindOf(sock) == ServerLink::Kind::kNone) return;
    // The attempt is given up as a whole: the user sees why and may connect again.
    EndSession(ConnectFailedText(error));
}

void QuillonWindow::CloseSession(const std::string& status) {
    link.CloseBoth();
    Text1.SetText(status);
    Command3.SetEnabled(false);
    mnuEnd.SetEnabled(true);
    Wave.fLOGIN = platform::kFalse;
    ShowPictureAsOld();
}

void QuillonWindow::EndSession(const std::string& status) {
    CloseSession(status);
    if (keeper_.ScheduleRetry()) return;  // 切断 stays: it stops the attempts
    fCon = platform::kFalse;
    ShowConnectItem(false);
}

void QuillonWindow::Reconnect(int attempt) {
    Text1.SetText(RetryText(attempt));
    StartAttempt();
}

void QuillonWindow::ShowPictureAsOld() {
    if (!picture_shown_ || Label2.Visible()) return;
    Picture2.Dim(PictureRect());
    Label2.SetCaption(OldPictureText(picture_time_));
    Label2.SetVisible(true);
}

void QuillonWindow::OnWrite(SOCKET sock) {
    if (link.KindOf(sock) == ServerLink::Kind::kVideo) RequestFrame();
}

void QuillonWindow::RequestFrame() {
    VideoClient.SendStartData(kVideoNextRequest);
    keeper_.RequestSent();
}

void QuillonWindow::OnRead(SOCKET sock) {
    if (fDanger != platform::kFalse) {
        VideoClient.SendStartData(kDangerRequest);
        fDanger = platform::kFalse;
        mnu_Danger.SetEnabled(true);
    }
    platform::DoEvents();
    switch (link.KindOf(sock)) {
        case ServerLink::Kind::kVideo:
            if (link.ReadFrame()) FrameArrived();
            break;
        case ServerLink::Kind::kSound:
            if (link.ReadSoundBlock()) {
                WaveClient.FWG = platform::kFalse;
                keeper_.SoundArrived();
                PlayBlock(link.SoundBlock());
            }
            break;
        case ServerLink::Kind::kNone:
            break;
    }
}

void QuillonWindow::FrameArrived() {
    keeper_.FrameAnswered();
    VideoClient.FLG = platform::kFalse;
    // A server with no picture yet is asked again after a pause, not in a tight loop.
    if (!link.FrameHasPicture()) return keeper_.PauseBeforeNextRequest();
    // The next request goes out first, so that the next frame travels while this one is decoded.
    RequestFrame();
    const int status = link.DecodeFrame();
    if (status != 0) return ReportError(CodecErrorText(status));
    WriteRawPicture();
    RecvBitMapShow();
}

void QuillonWindow::WriteRawPicture() {
    if (raw_out_ == nullptr || !raw_out_->IsOpen()) return;
    std::string error;
    if (!raw_out_->Write(BmpBuf.data(), &error)) std::fprintf(stderr, "quillon: %s\n", error.c_str());
}

void QuillonWindow::OnClose(SOCKET sock) {
    if (link.KindOf(sock) == ServerLink::Kind::kNone) return;  // a close queued for a closed connection
    // A server that closes before sending anything turned the receiver away (its allow list, or it is
    // full).
    EndSession(keeper_.Established() ? kDisconnectedText : kTurnedAwayText);
}

void QuillonWindow::RecvBitMapShow() {
    if (fBusy != platform::kFalse) return;
    fBusy = platform::kTrue;
    if (PictureSize == 1) {
        PaintPicture(Picture2, 20 - DrawWidth, 20, DrawWidth, DrawHeight, BmpBuf);
    } else {
        PaintPicture(Picture2, 330 - DrawWidth, 10, 2 * DrawWidth, 2 * DrawHeight, BmpBuf);
    }
    fBusy = platform::kFalse;
    picture_shown_ = true;
    picture_time_ = std::time(nullptr);
    Label2.SetVisible(false);
    CountPaintedFrame(BmpBuf.data());
    if (fSnap == platform::kFalse) return;
    fSnap = platform::kFalse;
    std::string error;
    const std::string path = platform::InProgramFolder("PICTUTE.BMP");
    if (!WriteSnapshot(path, BmpBuf, &error)) ReportError(SnapshotFailedText(path));
}

}  // namespace receiver
