#include "receiver/receiver_window.h"

#include <exception>

#include "codec/codec_status.h"
#include "platform/capture/timestamp.h"
#include "platform/window/msgbox.h"
#include "platform/window/paths.h"
#include "platform/winsock/winsock.h"

namespace receiver {

namespace {
constexpr int kTwipsPerPixel = 15;
constexpr int kFrameWidthPixels = 8;        // the left and right borders
constexpr int kFrameHeightPixels = 46;      // the borders, the caption and the menu bar
constexpr std::int32_t kPlaybackDepth = 3;  // target depth of the playback queue in blocks
}  // namespace

void SetOuterSizeTwips(platform::Form& form, int width_twips, int height_twips) {
    form.SetClientSize(width_twips / kTwipsPerPixel - kFrameWidthPixels,
                       height_twips / kTwipsPerPixel - kFrameHeightPixels);
}

std::string CodecErrorText(int status) {
    switch (status) {
        case codec::kStatusOverflow:
            return "実行時エラー '6': オーバーフローしました。";
        case codec::kStatusSubscript:
            return "実行時エラー '9': インデックスが有効範囲にありません。";
        default:
            return "実行時エラー '" + std::to_string(status) + "'";
    }
}

ReceiverWindow::ReceiverWindow(Ports ports) : ports_(ports) {
    form_.OnActivate([this] { Form_Activate(); });
    form_.OnQueryUnload([this](platform::UnloadMode mode) { return Form_QueryUnload(mode); });
}

void ReceiverWindow::Form_Activate() {
    form_.SetTopmost(true);
}

bool ReceiverWindow::Form_QueryUnload(platform::UnloadMode mode) {
    if (mode != platform::UnloadMode::kCloseBox) return false;
    platform::MessageBox("終了ボタンで終了してください。");
    return true;
}

ReceiverWindow::~ReceiverWindow() {
    if (window_.GetWindowProc()) window_.SetWindowProc({});
    if (hMainWnd == &window_) hMainWnd = nullptr;
}

void ReceiverWindow::HookWindow(platform::HWND hWnd) {
    PrevWndProc = hWnd->SetWindowProc([this](platform::HWND h, platform::UINT msg, platform::WPARAM wp,
                                             platform::LPARAM lp) { return WindowProc(h, msg, wp, lp); });
}

void ReceiverWindow::UnhookWindow(platform::HWND hWnd) {
    hWnd->SetWindowProc(PrevWndProc);
}

platform::LRESULT ReceiverWindow::WindowProc(platform::HWND hWnd, platform::UINT uMsg,
                                             platform::WPARAM wParam, platform::LPARAM lParam) {
    const platform::LRESULT result = platform::CallWindowProc(PrevWndProc, hWnd, uMsg, wParam, lParam);
    // One error trap for the handling of each message: an error ends that message's handling only.
    try {
        switch (uMsg) {
            case platform::MM_WOM_OPEN:
                fWaveOut = platform::kTrue;
                break;
            case platform::MM_WOM_DONE:
                Wave.WaveMoving(kPlaybackDepth);
                break;
            case platform::WM_SOCKET:
                DispatchSocket(static_cast<SOCKET>(wParam), lParam);
                break;
            default:
                break;
        }
    } catch (const std::exception& e) {
        ReportError(e.what());
    }
    return result;
}

void ReceiverWindow::DispatchSocket(SOCKET sock, platform::LPARAM lParam) {
    // The whole lParam is compared: an event that carries an error is not acted on as that event. The
    // exceptions: a failed connect, which the user is told about, and a close with an error (the server
    // reset the connection), which ends the connection as a plain close does.
    switch (lParam) {
        case winsock::FD_READ:
            return OnRead(sock);
        case winsock::FD_WRITE:
            return OnWrite(sock);
        case winsock::FD_CONNECT:
            return OnConnect(sock);
        case winsock::FD_CLOSE:
            return OnClose(sock);
        default:
            break;
    }
    const int event = static_cast<int>(lParam & 0xFFFF);
    const int error = static_cast<int>((lParam >> 16) & 0xFFFF);
    if (event == winsock::FD_CONNECT && error != 0) OnConnectFailed(sock, error);
    if (event == winsock::FD_CLOSE) OnClose(sock);
}

bool ReceiverWindow::AskForInitFile(const std::string& path, const std::vector<std::string>& prompts,
                                    const std::string& extra, const std::string& option) {
    if (!platform::CanAskForInput()) {
        ReportError(NoInitFileText(platform::ProgramFolder(), option));
        return false;
    }
    std::string items;
    for (std::size_t k = 0; k < prompts.size(); ++k) {
        const std::optional<std::string> answer = platform::InputBox(prompts[k]);
        // Without a first address there is nothing to write; a later one may be left out.
        if (!answer || (k == 0 && answer->empty())) return false;
        if (k > 0) items += ",";
        if (answer->empty()) continue;
        if (!IsInitAddress(*answer)) {
            ReportError(BadAddressText(*answer));
            return false;
        }
        items += *answer;
    }
    std::string error;
    if (WriteInitFile(path, items + extra, &error)) return true;
    ReportError(error);
    return false;
}

void ReceiverWindow::OpenSoundOutput() {
    std::int32_t fError = 0;
    Wave.WaveOutSet(fError);
}

void ReceiverWindow::PlayBlock(std::span<const std::uint8_t, CSock::kWaveBlockBytes> block) {
    if (fWaveOut == platform::kFalse) return;
    if (Wave.fPlay != platform::kFalse) {
        Wave.Play(block);
    } else {
        Wave.StartPlay(block);
    }
}

void ReceiverWindow::CountPaintedFrame(const std::uint8_t* picture) {
    stats_.FramePainted(picture, platform::MonotonicMicros());
}

}  // namespace receiver
