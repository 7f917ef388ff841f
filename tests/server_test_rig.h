// Shared by the server's suites: a fresh server for each test (main window loaded and activated, capture
// delivered by hand, the sound input on a tone, the sounds on the null output) listening on ports of
// 127.0.0.1 that the system chooses, and receivers written here as plain sockets. The server runs on this
// thread, so every wait pumps its loop.
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "csock_test_util.h"
#include "net/CSock.h"
#include "platform/wave/wave.h"
#include "platform/window/msgbox.h"
#include "platform/window/window.h"
#include "server/StreamingVideo.h"

namespace server_test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes Utf16(std::u16string_view text) {
    Bytes out;
    for (char16_t c : text) {
        out.push_back(static_cast<std::uint8_t>(c & 0xFF));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return out;
}

struct Receiver {
    int video = -1;
    int sound = -1;
    int slot = 0;
};

class ServerTest : public csock_test::EventLoopTest {
  protected:
    void SetUp() override {
        hMainWnd = nullptr;
        previous_in_ = platform::WaveInBackend();
        previous_out_ = platform::WaveOutBackend();
        ASSERT_TRUE(platform::SetWaveInBackend("tone"));
        ASSERT_TRUE(platform::SetWaveOutBackend("null"));
        previous_box_ = platform::SetMessageBoxHandler(
            [this](const std::string& text, const std::string&) { boxes_.push_back(text); });
        previous_ok_cancel_ =
            platform::SetMessageBoxOkCancelHandler([this](const std::string& text, const std::string& title) {
                boxes_.push_back(text);
                box_titles_.push_back(title);
                return answer_;
            });
        settings_.capture = "testpattern";
        settings_.bind = "127.0.0.1";
        settings_.video_port = 0;  // ports of the system's choosing, kept by the server's listening sockets
        settings_.sound_port = 0;
        Configure(settings_);
        sv_ = std::make_unique<tessaly::StreamingVideo>(settings_);
        server().SetSoundCommandObserver([this](std::string_view c) { sounds_.emplace_back(c); });
        server().Capture.SetPreviewPainting(false);
        server().Capture.Driver().SetManualDelivery(true);
        sv_->Form_Load();
        sv_->form().Activate();
        Watch();
    }

    void TearDown() override {
        for (int fd : peers_) ::close(fd);
        if (!sv_->fEnd()) sv_->ThisExit();
        sv_.reset();
        while (winsock::WSACleanup() == 0) {
        }
        hMainWnd = nullptr;
        platform::SetMessageBoxHandler(previous_box_);
        platform::SetMessageBoxOkCancelHandler(previous_ok_cancel_);
        platform::SetWaveInBackend(previous_in_);
        platform::SetWaveOutBackend(previous_out_);
    }

    // A suite's own choices of the command line, before the server is made.
    virtual void Configure(tessaly::ServerSettings&) {}
    void Serve() {
        sv_->mnuServer_Click();
        video_port_ = CSock::ListenPort(server().ListenSock[0]);
        sound_port_ = CSock::ListenPort(server().ListenSock[1]);
        ASSERT_NE(video_port_, 0);
        ASSERT_NE(sound_port_, 0);
    }

    int Keep(int fd) {
        peers_.push_back(fd);
        return fd;
    }

    tessaly::Server& server() { return sv_->server(); }
    int InUse() {
        int n = 0;
        for (int slot = 1; slot <= 10; ++slot) n += server().Clients[slot].fUse != 0;
        return n;
    }
    int CountSounds(std::string_view command) const {
        int n = 0;
        for (const auto& c : sounds_) n += c == command;
        return n;
    }

    // Opens a video connection (from the address `from`, host order, when given) and waits until the server
    // has taken it (placed or refused).
    int ConnectVideo(std::uint32_t from = 0) {
        const int handled = accepts_seen_ + 1;
        const int fd = Keep(csock_test::PeerConnect(video_port_, 0, from));
        WaitFor([&] { return AcceptsHandled() >= handled; });
        accepts_seen_ = handled;
        return fd;
    }
    // Opens a sound connection (with a receive buffer of rcvbuf bytes when given) and waits until the
    // server has accepted it.
    int ConnectSound(std::uint32_t from = 0, int rcvbuf = 0) {
        const int before = SoundAccepts();
        const int fd = Keep(csock_test::PeerConnect(sound_port_, rcvbuf, from));
        WaitFor([&] { return SoundAccepts() > before; });
        return fd;
    }
    // A receiver as the real ones connect: video first, then sound once the video connection is placed.
    Receiver Connect(bool with_sound = true) {
        Receiver r;
        r.video = ConnectVideo();
        r.slot = server().LastSlot;
        if (with_sound) r.sound = ConnectSound();
        return r;
    }
    // Closes a receiver's end with a reset, as after a crash.
    void ResetAndForget(int fd) {
        csock_test::CloseWithReset(fd);
        peers_.erase(std::remove(peers_.begin(), peers_.end(), fd), peers_.end());
    }

    // Sends a request text and collects the frame message that answers it (empty when none comes).
    Bytes Ask(int fd, std::u16string_view text = kVideoNextRequest) {
        csock_test::WriteAll(fd, Utf16(text));
        return ReadFrame(fd);
    }
    Bytes ReadFrame(int fd, int wait_ms = 3000) {
        Bytes got;
        platform::RunUntil(
            [&] {
                std::uint8_t buf[16384];
                const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
                if (n > 0) got.insert(got.end(), buf, buf + n);
                return got.size() >= 2 && got[got.size() - 1] == 0xFF && got[got.size() - 2] == 0xFF;
            },
            wait_ms);
        return got;
    }
    // Collects one whole sound block from a sound connection (empty when none comes).
    Bytes ReadBlock(int fd) {
        Bytes got;
        platform::RunUntil(
            [&] {
                std::uint8_t buf[CSock::kWaveBlockBytes];
                const ssize_t n = ::recv(fd, buf, CSock::kWaveBlockBytes - got.size(), MSG_DONTWAIT);
                if (n > 0) got.insert(got.end(), buf, buf + n);
                return got.size() == CSock::kWaveBlockBytes;
            },
            3000);
        return got;
    }
    // True when the server has closed the peer's connection (end of stream or reset).
    bool ClosedByServer(int fd) {
        return platform::RunUntil(
            [&] {
                std::uint8_t buf[4096];
                const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
                return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
            },
            3000);
    }

    std::unique_ptr<tessaly::StreamingVideo> sv_;
    tessaly::ServerSettings settings_;
    std::vector<std::string> sounds_;
    std::vector<std::string> boxes_;
    std::vector<std::string> box_titles_;
    platform::MsgBoxResult answer_ = platform::MsgBoxResult::kOk;
    std::vector<int> peers_;
    std::uint16_t video_port_ = 0;
    std::uint16_t sound_port_ = 0;

  private:
    // Video accepts handled so far: every placed connection sets LastSlot and fills a slot, every refused
    // one sets LastSlot to 0; both are counted by watching the listening socket's accepts through the
    // window procedure.
    int AcceptsHandled() { return Count(server().ListenSock[0]); }
    int SoundAccepts() { return Count(server().ListenSock[1]); }
    int Count(CSock::SOCKET listener) {
        Watch();
        return listener == server().ListenSock[0] ? video_accepts_ : sound_accepts_;
    }
    void Watch() {
        if (watching_ || hMainWnd == nullptr) return;
        watching_ = true;
        // Counts accept notifications after the server's own procedure has handled them.
        auto inner = hMainWnd->GetWindowProc();
        hMainWnd->SetWindowProc([this, inner](platform::HWND h, platform::UINT m, platform::WPARAM w,
                                              platform::LPARAM l) -> platform::LRESULT {
            const platform::LRESULT r = inner(h, m, w, l);
            if (m == platform::WM_SOCKET && l == winsock::FD_ACCEPT) {
                if (w == server().ListenSock[0]) ++video_accepts_;
                if (w == server().ListenSock[1]) ++sound_accepts_;
            }
            return r;
        });
    }

    int accepts_seen_ = 0;
    int video_accepts_ = 0;
    int sound_accepts_ = 0;
    bool watching_ = false;
    std::string previous_in_;
    std::string previous_out_;
    platform::MessageBoxHandler previous_box_;
    platform::MessageBoxOkCancelHandler previous_ok_cancel_;
};

}  // namespace server_test
