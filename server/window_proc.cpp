#include "server/window_proc.h"

#include <exception>
#include <string>

#include "audio/CWAVE.h"
#include "net/CSock.h"
#include "platform/window/error_box.h"
#include "server/admission.h"
#include "server/frame_pacing.h"
#include "server/report.h"
#include "server/server_module.h"
#include "server/web_link.h"

namespace tessaly {

namespace {

constexpr long kReadAndClose = winsock::FD_READ | winsock::FD_CLOSE;  // 33

bool (*security_mode_source)() = nullptr;

// Failures trapped in the window procedure, reported as the receivers report theirs (repeats counted).
platform::ErrorBox& TrappedErrors() {
    static platform::ErrorBox errors;
    return errors;
}

bool InUse(int slot) {
    return Clients[slot].fUse != platform::kFalse;
}

// Winsock's classic send buffer. Linux would let a connection's send buffer grow to megabytes (minutes of
// sound) before a receiver that stopped reading showed in its pending output; with this one it shows
// within seconds and is dropped, and what the server holds for a connection stays small.
constexpr std::int32_t kSendBufferBytes = 8192;

// TCP_NODELAY with a 16-bit true, the send buffer, and read and close notifications to the main window.
void Register(SOCKET s) {
    const std::int16_t on = platform::kTrue;
    winsock::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), 2);
    winsock::setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&kSendBufferBytes), 4);
    winsock::WSAAsyncSelect(s, hMainWnd, platform::WM_SOCKET, kReadAndClose);
}

void ShutAndClose(SOCKET s) {
    winsock::shutdown(s, winsock::SD_BOTH);
    winsock::closesocket(s);
}

// The slot (1 to MaxClient) whose video or sound connection is s, 0 when none is.
int SlotHolding(SOCKET s) {
    for (int slot = 1; slot <= MaxClient; ++slot) {
        if (Clients[slot].VideoSock == s || Clients[slot].WaveSock == s) return slot;
    }
    return 0;
}

// A receiver that the socket layer gave up for falling behind (its pending output over the limit, or
// taking nothing for 2 s) is reported in one line; one that reset or closed its connection is not.
void ReportDropped(int slot, SOCKET s) {
    const CSock::Failure why = CSock::FailureOf(s);
    if (why != CSock::Failure::kSendOverLimit && why != CSock::Failure::kSendStalled) return;
    const std::string address = CSock::AdToIP(static_cast<std::int32_t>(Clients[slot].Addr.sin_addr.s_addr));
    Report("tessaly: slot " + std::to_string(slot) + " " + address +
           " dropped: " + CSock::DescribeFailure(why));
}

// A send the socket layer reports as failed has already shut the connection down; freeing its slot at
// once keeps the window thread from sending to it again before its close notification arrives.
void DropFailed(SOCKET s) {
    const int slot = SlotHolding(s);
    if (slot == 0 || !InUse(slot)) return;
    ReportDropped(slot, s);
    ClientClose(slot);
}

void AcceptVideo() {
    winsock::SOCKADDR_IN peer{};
    int length = sizeof peer;
    const SOCKET s = winsock::accept(ListenSock[0], reinterpret_cast<winsock::SOCKADDR*>(&peer), &length);
    if (s == winsock::INVALID_SOCKET || s == 0) return;
    if (!Admitted(static_cast<std::int32_t>(peer.sin_addr.s_addr))) {
        ShutAndClose(s);
        return;
    }
    AcceptSock = s;
    Register(s);
    LastSlot = 0;
    for (int slot = 1; slot <= MaxClient; ++slot) {
        ClientInfo& c = Clients[slot];
        if (InUse(slot)) continue;
        c.fUse = platform::kTrue;
        c.VideoSock = AcceptSock;
        AcceptSock = 0;
        c.Addr = peer;
        c.LastTick = TickCount;
        c.fAlive = platform::kTrue;
        FrameSlotFilled(slot);
        LastSlot = slot;
        break;
    }
    if (LastSlot == 0) {  // table full: refused silently
        ShutAndClose(AcceptSock);
        AcceptSock = 0;
        return;
    }
    fEncode = platform::kTrue;
    if (!SecurityMode()) SoundCommand("Play in from 0");
}

// A sound connection joins the slot that the latest video connection filled. One that cannot join it (the
// slot already has sound, or its video connection has gone meanwhile) is accepted and closed at once, so
// that the next sound connection is still announced and paired.
void AcceptSound() {
    const int s = LastSlot;
    winsock::SOCKADDR_IN peer{};
    int length = sizeof peer;
    const SOCKET sock = winsock::accept(ListenSock[1], reinterpret_cast<winsock::SOCKADDR*>(&peer), &length);
    if (sock == winsock::INVALID_SOCKET || sock == 0) return;
    if (!Admitted(static_cast<std::int32_t>(peer.sin_addr.s_addr)) || Clients[s].WaveSock != 0 ||
        (s != 0 && !InUse(s))) {
        ShutAndClose(sock);
        return;
    }
    Clients[s].WaveSock = sock;
    Register(sock);
    if (s == 0) {
        ShutAndClose(sock);
        Clients[0].WaveSock = 0;
    }
    StartSound();
}

void ReadRequest(SOCKET s) {
    for (int slot = 1; slot <= MaxClient; ++slot) {
        if (Clients[slot].VideoSock != s) continue;
        Sock().RecvStartDataSock(s, RecvText);
        HandleRequest(RecvText, slot);
        return;
    }
}

void CloseNotified(SOCKET s) {
    int free_slots = 0;
    for (int slot = 1; slot <= MaxClient; ++slot) {
        if (!InUse(slot)) {
            ++free_slots;
            continue;
        }
        if (Clients[slot].VideoSock == s || Clients[slot].WaveSock == s) {
            ReportDropped(slot, s);
            ClientClose(slot);
            break;
        }
    }
    // A socket still held by a free slot (a stray sound connection) is closed and forgotten as well.
    for (int slot = 0; slot <= MaxClient; ++slot) {
        if (InUse(slot)) continue;
        for (SOCKET* held : {&Clients[slot].VideoSock, &Clients[slot].WaveSock}) {
            if (*held != s || s == 0) continue;
            ShutAndClose(s);
            *held = 0;
        }
    }
    if (free_slots == MaxClient && !WebWantsSound()) fWaveSend = platform::kFalse;
}

void ForwardSound(platform::LPARAM header) {
    if (fWaveSend == platform::kFalse) return;  // the buffer is not handed back: capture runs dry
    static std::uint8_t block[CWAVE::kBlockSamples];
    if (!Wave().MakeWaveInSendData(header, std::span<std::uint8_t, CWAVE::kBlockSamples>(block))) return;
    OfferSoundToWeb(block);
    for (int slot = 1; slot <= MaxClient; ++slot) {
        const SOCKET s = Clients[slot].WaveSock;
        if (s != 0 && !Sock().SendWaveDataSock(s, block)) DropFailed(s);
    }
}

void SocketEvent(SOCKET s, platform::LPARAM event) {
    // A close that carries an error code (a reset) ends the connection as surely as a plain one: the slot is
    // freed now rather than by the watchdog. Other events that carry an error code are ignored.
    if ((event & 0xFFFF) == winsock::FD_CLOSE) return CloseNotified(s);
    switch (event) {
        case winsock::FD_ACCEPT:
            if (s == ListenSock[0] && s != 0)
                AcceptVideo();
            else if (s == ListenSock[1] && s != 0)
                AcceptSound();
            break;
        case winsock::FD_READ:
            ReadRequest(s);
            break;
        default:
            break;
    }
}

}  // namespace

void StartSound() {
    if (fWaveSend != platform::kFalse) return;
    Wave().WaveAddIn();
    fWaveSend = platform::kTrue;
}

bool SoundAlarm() {
    if (!SecurityMode()) return false;
    SoundCommand("Play danger from 0");
    return true;
}

bool SecurityMode() {
    return security_mode_source != nullptr && security_mode_source();
}

void SetSecurityModeSource(bool (*source)()) {
    security_mode_source = source;
}

platform::LRESULT WindowProc(platform::HWND hwnd, platform::UINT msg, platform::WPARAM wParam,
                             platform::LPARAM lParam) {
    const platform::LRESULT result = platform::CallWindowProc(PrevWndProc, hwnd, msg, wParam, lParam);
    try {
        if (msg == platform::MM_WIM_DATA) ForwardSound(lParam);
        if (msg == platform::WM_SOCKET) SocketEvent(static_cast<SOCKET>(wParam), lParam);
    } catch (const std::exception& e) {
        // A failure ends the handling of this one message; the server reports it and goes on with the next.
        TrappedErrors().Report(e.what());
    }
    return result;
}

void HookWindow(platform::HWND hwnd) {
    PrevWndProc = hwnd->SetWindowProc(WindowProc);
}

void UnhookWindow(platform::HWND hwnd) {
    hwnd->SetWindowProc(PrevWndProc);
}

void HandleRequest(std::u16string_view text, std::int32_t Num) {
    if (Num < 1 || Num > MaxClient) return;
    // One read may carry two requests that arrived together (an alarm sent right before a frame request):
    // each word is acted on, so that neither is lost.
    const RequestWords words = ScanRequest(text);
    if (words.alarm && Num == 1) SoundAlarm();
    ClientInfo& c = Clients[Num];
    if (words.next_frame) {
        c.LastTick = TickCount;
        c.fAlive = platform::kTrue;
        AnswerFrameRequest(Num);
    }
}

void SendFrame(std::int32_t Num) {
    const SOCKET s = Clients[Num].VideoSock;
    if (!Sock().SendDCTVideoDataSock(s, PressBuf, PressSize(), Num)) DropFailed(s);
}

void ClientClose(std::int32_t Num) {
    if (Num < 0 || Num >= kClientSlots || !InUse(Num)) return;
    ClientInfo& c = Clients[Num];
    c.fUse = platform::kFalse;
    c.fAlive = platform::kFalse;
    if (c.VideoSock != 0) ShutAndClose(c.VideoSock);
    if (c.WaveSock != 0) ShutAndClose(c.WaveSock);
    c.VideoSock = 0;
    c.WaveSock = 0;
    c.LastTick = 0;
}

}  // namespace tessaly
