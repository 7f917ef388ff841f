#include "server/StreamingVideo.h"

#include <charconv>
#include <cstdio>

#include "platform/capture/timestamp.h"
#include "platform/window/msgbox.h"
#include "server/port_file.h"

namespace tessaly {

namespace {

constexpr int kTimerIntervalMs = 2000;
// Why the watchdog drops a receiver: no frame request between two of its ticks.
constexpr const char* kWatchdogReason = "no frame request for 2 s";

// The slot number that begins a list row, 0 when the row does not begin with one.
std::int32_t SlotOfRow(const std::string& row) {
    std::int32_t slot = 0;
    const auto [end, error] = std::from_chars(row.data(), row.data() + row.size(), slot);
    if (error != std::errc() || end == row.data()) return 0;
    return slot;
}

// What the status line says after its own text when the chime or the alarm cannot play (a leading space), or
// nothing.
std::string SoundNotice(bool chime, bool alarm) {
    if (!chime && !alarm) return " stream.wav と danger.wav を開けず、音は鳴りません。";
    if (!chime) return " stream.wav を開けず、接続音は鳴りません。";
    if (!alarm) return " danger.wav を開けず、警報は鳴りません。";
    return {};
}

}  // namespace

StreamingVideo::StreamingVideo(ServerSettings settings)
    : settings_(std::move(settings)), server_(std::make_unique<Server>()) {
    BuildControls();
    server_->SetSecurityModeSource([this] { return mnu_sec_->Checked(); });
}

void StreamingVideo::BuildControls() {
    form_.SetCaption(kCaption);
    form_.SetFont({"ＭＳ 明朝", 9});
    form_.SetClientSize(600, 320);
    auto& preview = form_.AddPictureBox(CCapture::kCaptureWindowName, {20, 20, 320, 240});
    preview.SetVisible(false);  // shown by the capture object once capture starts
    list1_ = &form_.AddListBox("List1", {360, 20, 220, 240});
    text1_ = &form_.AddTextBox("Text1", {20, 276, 560, 24});
    text1_->SetLocked(true);
    text1_->MarkAsStatus();
    mnu_server_ = &form_.AddMenu("mnuServer", "サーバー");
    mnu_h_ = &form_.AddMenu("mnuH", "保安");
    mnu_sec_ = &mnu_h_->AddItem("mnUSec", "セキュリティモード");
    mnu_end_ = &form_.AddMenu("mnuEND", "終了");

    mnu_server_->OnClick([this] { mnuServer_Click(); });
    mnu_sec_->OnClick([this] { mnUSec_Click(); });
    mnu_end_->OnClick([this] { mnuEND_Click(); });
    list1_->OnDblClick([this] { List1_DblClick(); });
    timer1_.SetHandler([this] { Timer1_Timer(); });
    form_.OnActivate([this] { Form_Activate(); });
    form_.OnQueryUnload([this](platform::UnloadMode mode) { return OnQueryUnload(mode); });
}

void StreamingVideo::Form_Load() {
    if (f_end_) return;
    Server& s = *server_;
    s.MaxClient = kReceiverSlots;
    s.Clients = {};
    if (hMainWnd == nullptr) {
        hMainWnd = &window_;
        s.HookWindow(hMainWnd);
    }
    s.Codec.InitDCT();
    s.Codec.敷居 = codec::kServerThreshold;
    s.Sock.SetBindAddress(settings_.bind);
    s.Sock.SetAnyPortListening(true);
    s.admission.SetAllowList(settings_.allow);
    s.pacing.SetResend(settings_.resend_frames);
    StartWatching();
}

// Motion detection and recording, when the command line asks for them; a recordings' folder that cannot be
// used is reported and the server goes on serving without recording.
void StreamingVideo::StartWatching() {
    Server& s = *server_;
    if (!settings_.watch.motion || s.watch) return;
    s.SetEventObserver([this](const WatchedEvent&, bool) {
        if (show_watch_in_status_) ShowStatus();
    });
    std::string error;
    if (s.StartWatching(settings_.watch, &error)) return;
    std::fprintf(stderr, "tessaly: no recording: %s\n", error.c_str());
    WatchSettings without_recording = settings_.watch;
    without_recording.record = false;
    s.StartWatching(without_recording, &error);
}

void StreamingVideo::ShowStatus() {
    std::string text = serving_text_;
    const Watch* watch = server_->watch.get();
    if (show_watch_in_status_ && watch != nullptr) {
        if (!text.empty()) text += "\u3000";
        text += (watch->EventLasts() ? "動き検知中・今日 " : "今日の動き ") +
                std::to_string(watch->EventsToday()) + " 件";
    }
    text1_->SetText(text);
}

void StreamingVideo::Form_Activate() {
    form_.SetTopmost(true);
    if (activated_) return;
    activated_ = true;
    Server& s = *server_;
    s.Capture.SetSource(settings_.capture, settings_.fps);
    s.Capture.InitCapSize240(20, 20);
    s.Capture.SerCapture(form_, [&s](const platform::CaptureFrame& frame) { return s.FrameCallback(frame); });
    // A missing file means silence; the operator is told so once, in the status line.
    const bool chime = s.SoundCommand("Open stream.wav alias in") == 0;
    const bool alarm = s.SoundCommand("Open danger.wav alias danger") == 0;
    sound_notice_ = SoundNotice(chime, alarm);
    if (!sound_notice_.empty()) {
        serving_text_ = sound_notice_.substr(1);
        ShowStatus();
    }
    timer1_.SetInterval(kTimerIntervalMs);
    s.Wave.WaveInSet();
    mnu_sec_->SetChecked(true);
    // Recordings carry the sound: its capture runs from the start, whether or not a receiver listens.
    if (s.watch && settings_.watch.record && settings_.watch.recorder.with_sound) s.StartSound();
    if (s.watch && show_watch_in_status_) ShowStatus();
}

void StreamingVideo::mnuServer_Click() {
    const std::array<std::uint16_t, 2> PORT = {settings_.video_port, settings_.sound_port};
    Server& s = *server_;
    mnu_server_->SetEnabled(false);
    s.Sock.SetListenSock(PORT, s.ListenSock);
    if (s.Sock.fServer == platform::kFalse) {
        // The failure stays on screen, and サーバー may be chosen again once the port is free.
        serving_text_ = s.Sock.ListenFailure + "(" + s.Sock.SERVER + ")";
        ShowStatus();
        s.Sock.CloseListenSock(s.ListenSock);
        mnu_server_->SetEnabled(true);
        return;
    }
    serving_text_ = "待機します。(" + s.Sock.SERVER + ")" + sound_notice_;
    ShowStatus();
    if (settings_.web.port != 0 || settings_.web_on_any_port) {
        s.web_link->Start(settings_.web, settings_.allow, s.Sock.SERVER);
    }
    WritePorts();
}

void StreamingVideo::WritePorts() {
    if (settings_.port_file.empty()) return;
    const Server& s = *server_;
    const ListeningPorts ports{CSock::ListenPort(s.ListenSock[0]), CSock::ListenPort(s.ListenSock[1]),
                               s.web_link->Port()};
    std::string error;
    if (!WritePortFile(settings_.port_file, ports, &error))
        std::fprintf(stderr, "tessaly: %s\n", error.c_str());
}

void StreamingVideo::mnUSec_Click() {
    mnu_sec_->SetChecked(!mnu_sec_->Checked());
}

void StreamingVideo::mnuEND_Click() {
    f_end_ = true;
    ThisExit();
    form_.Unload();
}

// The close box ends the program with the same shutdown as "終了"; with receivers connected it asks first.
bool StreamingVideo::OnQueryUnload(platform::UnloadMode mode) {
    if (!f_end_ && mode == platform::UnloadMode::kCloseBox && ConnectedReceivers() > 0 &&
        !platform::MessageBoxYesNo("受信機が " + std::to_string(ConnectedReceivers()) +
                                   " 台接続しています。終了しますか？")) {
        return true;
    }
    if (!f_end_) {
        f_end_ = true;
        ThisExit();
    }
    return false;
}

void StreamingVideo::ThisExit() {
    Server& s = *server_;
    timer1_.SetInterval(0);
    s.web_link->Stop();
    s.Wave.WaveInStop();
    s.fWaveSend = platform::kFalse;
    s.Capture.EndCapture();
    if (s.watch) s.watch->Stop();  // after the last picture: a running event ends and its file is finished
    if (s.Sock.fWsa != platform::kFalse) {
        s.Sock.CloseListenSock(s.ListenSock);
        for (int slot = 0; slot <= kReceiverSlots; ++slot) {
            for (SOCKET* held : {&s.Clients[slot].VideoSock, &s.Clients[slot].WaveSock}) {
                if (*held != 0) winsock::closesocket(*held);
                *held = 0;
            }
        }
        s.Sock.WSAClose();
    }
    if (hMainWnd != nullptr) {
        s.UnhookWindow(hMainWnd);
        hMainWnd = nullptr;
    }
    s.SoundCommand("close all");
}

void StreamingVideo::Timer1_Timer() {
    Server& s = *server_;
    ++s.TickCount;
    list1_->Clear();
    int connected = 0;
    for (int slot = 1; slot <= s.MaxClient; ++slot) {
        ClientInfo& c = s.Clients[slot];
        if (c.fUse == platform::kFalse) continue;
        ++connected;
        list1_->AddItem(std::to_string(slot) + " " +
                        CSock::AdToIP(static_cast<std::int32_t>(c.Addr.sin_addr.s_addr)) + " " +
                        std::to_string(s.TickCount - c.LastTick));
        // A receiver whose frame waits for its sound to catch up has asked: only the server holds it back.
        if (c.fAlive != platform::kFalse || s.FrameHeld(slot)) {
            c.fAlive = platform::kFalse;
        } else {
            s.ReportDrop(slot, kWatchdogReason);
            ClientClose(slot);
        }
    }
    if (connected == 0) s.fEncode = platform::kFalse;
    list1_->AddItem("Connect=" + std::to_string(connected) + "  /Max:" + std::to_string(s.MaxClient));
    s.web_link->ReportViewers();
    if (s.watch) s.watch->Tick(platform::MonotonicMicros());
}

void StreamingVideo::List1_DblClick() {
    const int index = list1_->ListIndex();
    const std::string row = list1_->SelectedText();
    if (index < 0 || index == list1_->ListCount() - 1 || list1_->ListCount() <= 1 || row.empty()) return;
    if (platform::MessageBoxOkCancel("Disconnect=" + row, "Tessaly") != platform::MsgBoxResult::kOk) return;
    ClientClose(SlotOfRow(row));
}

int StreamingVideo::ConnectedReceivers() const {
    int connected = 0;
    for (int slot = 1; slot <= server_->MaxClient; ++slot)
        connected += server_->Clients[slot].fUse != platform::kFalse;
    return connected;
}

void StreamingVideo::ClientClose(std::int32_t Num) {
    server_->ClientClose(Num);
}

bool StreamingVideo::DropSlot(std::int32_t Num) {
    for (int row = 0; row + 1 < list1_->ListCount(); ++row) {
        if (SlotOfRow(list1_->List(row)) == Num && Num != 0) return list1_->UserDblClickRow(row);
    }
    return false;
}

}  // namespace tessaly
