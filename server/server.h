// Tessaly's server: one object, made by the main window (StreamingVideo) and passed on, that holds what the
// window procedure, the main window's timer and the frame callback share - the client table, the flags, the
// frame buffers, the codec, socket, sound and capture objects - and the parts that act for it: the pacing of
// frames, the admission of peers, the web face. A captured picture goes one way: capture -> FrameCallback ->
// the picture consumers (consumers.h), which compress it for the receivers (-> pacing -> sends) and offer it
// to the web face and the watch (watch.h); each sound block goes to the sound consumers likewise. Everything
// here runs on the window thread; the window procedure's part is in window_proc.cpp.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "audio/CWAVE.h"
#include "codec/CCODEC.h"
#include "net/CSock.h"
#include "platform/capture/capture.h"
#include "platform/window/error_box.h"
#include "platform/window/window.h"
#include "server/CCapture.h"
#include "server/admission.h"
#include "server/client_table.h"
#include "server/consumers.h"
#include "server/frame_pacing.h"
#include "server/report.h"
#include "server/watch.h"
#include "server/web_link.h"
#include "web/web_face.h"

namespace tessaly {

inline constexpr int kPressBufBytes = 15001 + 2;  // the largest frame and the end marker behind it
inline constexpr int kCapBufBytes = static_cast<int>(kPictureBytes);

class Server : public web::ServerHooks {
  public:
    Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    std::array<ClientInfo, kClientSlots> Clients{};
    std::int32_t MaxClient = kReceiverSlots;
    std::int32_t TickCount = 0;  // ticks of the main window's 2 s timer
    std::int32_t LastSlot = 0;   // the slot that the latest video connection filled, 0 when refused
    std::uint64_t Joins = 0;     // receivers placed so far: each slot's order of arrival (ClientInfo::Joined)
    SOCKET AcceptSock = 0;
    platform::Flag fWaveSend = platform::kFalse;  // sound capture runs and its blocks are handed out
    platform::Flag fEncode = platform::kFalse;    // pictures are compressed: a receiver is connected
    std::u16string RecvText;                      // the latest request text read
    std::array<SOCKET, 2> ListenSock{};           // video, sound
    std::array<std::uint8_t, kPressBufBytes> PressBuf{};
    std::array<std::uint8_t, kCapBufBytes> CapBuf{};
    platform::WNDPROC PrevWndProc;
    CCODEC Codec;
    CSock Sock{CSock::kServerMsgBufBound};
    CWAVE Wave;

    Reporter reporter;
    Admission admission{reporter};
    FramePacing pacing;
    std::unique_ptr<WebLink> web_link;
    std::unique_ptr<Watch> watch;  // the watching by itself, when asked for (StartWatching)
    PictureConsumers pictures;
    SoundConsumers sounds;
    // Last, so that it is destroyed first: its driver stops before anything its pictures reach.
    CCapture Capture;

    // Length of the current compressed frame in PressBuf.
    std::int32_t PressSize() const { return Codec.SendDataSize; }
    // The capture's frame callback: copies the picture into CapBuf, shows it in the preview and hands it to
    // the picture consumers. Returns 0.
    std::int16_t FrameCallback(const platform::CaptureFrame& frame);

    // Installs WindowProc on hwnd and keeps the procedure it replaces in PrevWndProc; UnhookWindow puts that
    // one back. Sockets of receivers notify hwnd.
    void HookWindow(platform::HWND hwnd);
    void UnhookWindow(platform::HWND hwnd);
    // Every sound-input buffer and every socket event of the server arrives here. A failure ends the
    // handling of that one message and is reported (repeats counted).
    platform::LRESULT WindowProc(platform::HWND hwnd, platform::UINT msg, platform::WPARAM wParam,
                                 platform::LPARAM lParam);
    platform::HWND Window() const { return window_; }

    // Acts on one request text read from the video connection of slot Num.
    void HandleRequest(std::u16string_view text, std::int32_t Num);
    // Sends the current frame on slot Num's video connection; a failed send frees the slot.
    void SendFrame(std::int32_t Num);
    // Whether slot's answer to a frame request waits for its sound to catch up (sound_first.cpp).
    bool FrameHeld(int slot) const { return frame_held_[slot]; }
    // Frees slot Num: shuts down and closes both of its connections. A free slot is left alone.
    void ClientClose(std::int32_t Num);
    // Reports in one line that the server drops the receiver in slot for the reason why.
    void ReportDrop(int slot, std::string_view why) const;
    // A receiver that sent no request for this long has stopped asking: the watchdog's tick.
    static constexpr std::int64_t kAskingWithinMs = 2000;
    // The slot whose alarm request sounds the alarm at now_ms (0 when none may): slot 1 while its receiver
    // asks, else the longest-connected receiver that does.
    int AlarmHolder(std::int64_t now_ms) const;
    // Starts the sound capture that feeds every sound connection (and the web face), once.
    void StartSound();

    // The security mode (the check mark of "セキュリティモード"): the main window installs how to read it.
    bool SecurityMode() const { return security_mode_ && security_mode_(); }
    void SetSecurityModeSource(std::function<bool()> source) { security_mode_ = std::move(source); }

    // Sends a sound command (the chime, the alarm, opening and closing them); returns its error number (0 on
    // success). Tests watch the commands through the observer.
    std::uint32_t SoundCommand(std::string_view command);
    void SetSoundCommandObserver(std::function<void(std::string_view)> observer) {
        sound_observer_ = std::move(observer);
    }

    // Makes the watch from its settings and starts it (its recorder); its lines go to standard output, an
    // event's start sounds the alarm through SoundAlarm when asked to, and the observer hears of every event
    // start and end. False with one line when the recordings' folder cannot be used.
    bool StartWatching(const WatchSettings& settings, std::string* error);
    void SetEventObserver(std::function<void(const WatchedEvent&, bool ended)> observer) {
        event_observer_ = std::move(observer);
    }

    // The web face's questions (web::ServerHooks).
    web::ServerState State() override;
    // Plays the alarm when the security mode is on, as the alarm request of the receiver that holds the
    // alarm right does; true when it played.
    bool SoundAlarm() override;
    void WantSound() override { StartSound(); }
    void Refused(std::int32_t address) override { admission.ReportRefusal(address); }
    std::vector<web::EventRow> Events() override;
    std::vector<std::uint8_t> EventThumbnail(const std::string& id) override;
    bool DeleteRecording(const std::string& video, std::string* error) override;

  private:
    void AddConsumers();
    void CompressForReceivers(const CapturedPicture& picture);
    void SendSoundToReceivers(const CapturedSound& sound);
    // Sends the current frame to a slot that pacing answers, unless the slot has gone meanwhile or its sound
    // lags: then the frame is held until the sound has caught up (SendHeldFrames).
    void AnswerWithFrame(int slot);
    bool SoundLags(int slot) const;
    void SendHeldFrames();
    void ForwardSound(platform::LPARAM header);

    platform::HWND window_ = nullptr;
    platform::ErrorBox trapped_errors_;  // failures in the window procedure, reported as the receivers do
    std::function<bool()> security_mode_;
    std::function<void(std::string_view)> sound_observer_;
    std::function<void(const WatchedEvent&, bool ended)> event_observer_;
    std::array<std::uint8_t, CWAVE::kBlockSamples> sound_block_{};
    std::array<bool, kClientSlots> frame_held_{};
};

}  // namespace tessaly
