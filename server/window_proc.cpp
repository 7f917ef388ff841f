// The server's window procedure: every sound-input buffer and every socket event of the server arrives here.
// It fills and frees the slots of the client table (refusing peers that --allow does not name), answers
// frame requests through the pacing (each picture once, frame_pacing.h), hands each sound block to the sound
// consumers and sounds the alarm.
#include <exception>
#include <string>

#include "platform/capture/timestamp.h"
#include "server/server.h"

namespace tessaly {

namespace {

constexpr long kReadAndClose = winsock::FD_READ | winsock::FD_CLOSE;  // 33

bool InUse(const Server& server, int slot) {
    return server.Clients[slot].fUse != platform::kFalse;
}

// Winsock's classic send buffer. Linux would let a connection's send buffer grow to megabytes (minutes of
// sound) before a receiver that stopped reading showed in its pending output; with this one it shows
// within seconds and is dropped, and what the server holds for a connection stays small.
constexpr std::int32_t kSendBufferBytes = 8192;

// TCP_NODELAY with a 16-bit true, the send buffer, and read and close notifications to the main window.
void Register(const Server& server, SOCKET s) {
    const std::int16_t on = platform::kTrue;
    winsock::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), 2);
    winsock::setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&kSendBufferBytes), 4);
    winsock::WSAAsyncSelect(s, server.Window(), platform::WM_SOCKET, kReadAndClose);
}

void ShutAndClose(SOCKET s) {
    winsock::shutdown(s, winsock::SD_BOTH);
    winsock::closesocket(s);
}

// The slot (1 to MaxClient) whose video or sound connection is s, 0 when none is.
int SlotHolding(const Server& server, SOCKET s) {
    for (int slot = 1; slot <= server.MaxClient; ++slot) {
        if (server.Clients[slot].VideoSock == s || server.Clients[slot].WaveSock == s) return slot;
    }
    return 0;
}

// A receiver that the socket layer gave up for falling behind (its pending output over the limit, or
// taking nothing for 2 s) is reported in one line; one that reset or closed its connection is not.
void ReportDropped(const Server& server, int slot, SOCKET s) {
    const CSock::Failure why = CSock::FailureOf(s);
    if (why != CSock::Failure::kSendOverLimit && why != CSock::Failure::kSendStalled) return;
    server.ReportDrop(slot, CSock::DescribeFailure(why));
}

// A send the socket layer reports as failed has already shut the connection down; freeing its slot at
// once keeps the window thread from sending to it again before its close notification arrives.
void DropFailed(Server& server, SOCKET s) {
    const int slot = SlotHolding(server, s);
    if (slot == 0 || !InUse(server, slot)) return;
    ReportDropped(server, slot, s);
    server.ClientClose(slot);
}

void AcceptVideo(Server& server) {
    winsock::SOCKADDR_IN peer{};
    int length = sizeof peer;
    const SOCKET s =
        winsock::accept(server.ListenSock[0], reinterpret_cast<winsock::SOCKADDR*>(&peer), &length);
    if (s == winsock::INVALID_SOCKET || s == 0) return;
    if (!server.admission.Admitted(static_cast<std::int32_t>(peer.sin_addr.s_addr))) {
        ShutAndClose(s);
        return;
    }
    server.AcceptSock = s;
    Register(server, s);
    server.LastSlot = 0;
    for (int slot = 1; slot <= server.MaxClient; ++slot) {
        ClientInfo& c = server.Clients[slot];
        if (InUse(server, slot)) continue;
        c.fUse = platform::kTrue;
        c.VideoSock = server.AcceptSock;
        server.AcceptSock = 0;
        c.Addr = peer;
        c.LastTick = server.TickCount;
        c.fAlive = platform::kTrue;
        c.Joined = ++server.Joins;
        c.LastRequestMs = platform::MonotonicMicros() / 1000;
        server.pacing.SlotFilled(slot);
        server.LastSlot = slot;
        break;
    }
    if (server.LastSlot == 0) {  // table full: refused silently
        ShutAndClose(server.AcceptSock);
        server.AcceptSock = 0;
        return;
    }
    server.fEncode = platform::kTrue;
    if (!server.SecurityMode()) server.SoundCommand("Play in from 0");
}

// The slot whose video connection came from address earliest and has no sound connection yet, 0 when none
// waits. Receivers open their sound connection right after their video connection, so among one address the
// sound connections come in the order of the video ones; receivers elsewhere do not get in between.
int OldestUnpairedFrom(const Server& server, std::uint32_t address) {
    int oldest = 0;
    for (int slot = 1; slot <= server.MaxClient; ++slot) {
        const ClientInfo& c = server.Clients[slot];
        if (!InUse(server, slot) || c.VideoSock == 0 || c.WaveSock != 0 || c.Addr.sin_addr.s_addr != address)
            continue;
        if (oldest == 0 || c.Joined < server.Clients[oldest].Joined) oldest = slot;
    }
    return oldest;
}

// A sound connection joins the oldest unpaired video connection from its address. One that finds none (no
// video connection from there, or all of them have sound) is accepted and closed at once, so that the next
// sound connection is still announced and paired.
void AcceptSound(Server& server) {
    winsock::SOCKADDR_IN peer{};
    int length = sizeof peer;
    const SOCKET sock =
        winsock::accept(server.ListenSock[1], reinterpret_cast<winsock::SOCKADDR*>(&peer), &length);
    if (sock == winsock::INVALID_SOCKET || sock == 0) return;
    if (!server.admission.Admitted(static_cast<std::int32_t>(peer.sin_addr.s_addr))) {
        ShutAndClose(sock);
        return;
    }
    const int slot = OldestUnpairedFrom(server, peer.sin_addr.s_addr);
    if (slot == 0) {
        ShutAndClose(sock);
        return;
    }
    server.Clients[slot].WaveSock = sock;
    Register(server, sock);
    server.StartSound();
}

void ReadRequest(Server& server, SOCKET s) {
    for (int slot = 1; slot <= server.MaxClient; ++slot) {
        if (server.Clients[slot].VideoSock != s) continue;
        server.Sock.RecvStartDataSock(s, server.RecvText);
        server.HandleRequest(server.RecvText, slot);
        return;
    }
}

void CloseNotified(Server& server, SOCKET s) {
    int free_slots = 0;
    for (int slot = 1; slot <= server.MaxClient; ++slot) {
        if (!InUse(server, slot)) {
            ++free_slots;
            continue;
        }
        if (server.Clients[slot].VideoSock == s || server.Clients[slot].WaveSock == s) {
            ReportDropped(server, slot, s);
            server.ClientClose(slot);
            break;
        }
    }
    // A socket still held by a free slot (a stray sound connection) is closed and forgotten as well.
    for (int slot = 0; slot <= server.MaxClient; ++slot) {
        if (InUse(server, slot)) continue;
        for (SOCKET* held : {&server.Clients[slot].VideoSock, &server.Clients[slot].WaveSock}) {
            if (*held != s || s == 0) continue;
            ShutAndClose(s);
            *held = 0;
        }
    }
    if (free_slots == server.MaxClient && !server.web_link->WantsSound()) server.fWaveSend = platform::kFalse;
}

void SocketEvent(Server& server, SOCKET s, platform::LPARAM event) {
    // A close that carries an error code (a reset) ends the connection as surely as a plain one: the slot is
    // freed now rather than by the watchdog. Other events that carry an error code are ignored.
    if ((event & 0xFFFF) == winsock::FD_CLOSE) return CloseNotified(server, s);
    switch (event) {
        case winsock::FD_ACCEPT:
            if (s == server.ListenSock[0] && s != 0)
                AcceptVideo(server);
            else if (s == server.ListenSock[1] && s != 0)
                AcceptSound(server);
            break;
        case winsock::FD_READ:
            ReadRequest(server, s);
            break;
        default:
            break;
    }
}

}  // namespace

void Server::ForwardSound(platform::LPARAM header) {
    if (fWaveSend == platform::kFalse) return;  // the buffer is not handed back: capture runs dry
    if (!Wave.MakeWaveInSendData(header, sound_block_)) return;
    sounds.Hand({sound_block_, platform::MonotonicMicros()});
}

void Server::SendSoundToReceivers(const CapturedSound& sound) {
    for (int slot = 1; slot <= MaxClient; ++slot) {
        const SOCKET s = Clients[slot].WaveSock;
        if (s != 0 && !Sock.SendWaveDataSock(s, sound.block)) DropFailed(*this, s);
    }
    SendHeldFrames();
}

void Server::StartSound() {
    if (fWaveSend != platform::kFalse) return;
    Wave.WaveAddIn();
    fWaveSend = platform::kTrue;
}

platform::LRESULT Server::WindowProc(platform::HWND hwnd, platform::UINT msg, platform::WPARAM wParam,
                                     platform::LPARAM lParam) {
    const platform::LRESULT result = platform::CallWindowProc(PrevWndProc, hwnd, msg, wParam, lParam);
    try {
        if (msg == platform::MM_WIM_DATA) ForwardSound(lParam);
        if (msg == platform::WM_SOCKET) SocketEvent(*this, static_cast<SOCKET>(wParam), lParam);
    } catch (const std::exception& e) {
        // A failure ends the handling of this one message; the server reports it and goes on with the next.
        trapped_errors_.Report(e.what());
    }
    return result;
}

void Server::HookWindow(platform::HWND hwnd) {
    window_ = hwnd;
    PrevWndProc = hwnd->SetWindowProc([this](platform::HWND h, platform::UINT m, platform::WPARAM w,
                                             platform::LPARAM l) { return WindowProc(h, m, w, l); });
}

void Server::UnhookWindow(platform::HWND hwnd) {
    hwnd->SetWindowProc(PrevWndProc);
    window_ = nullptr;
}

void Server::HandleRequest(std::u16string_view text, std::int32_t Num) {
    if (Num < 1 || Num > MaxClient) return;
    ClientInfo& c = Clients[Num];
    const std::int64_t now_ms = platform::MonotonicMicros() / 1000;
    c.LastRequestMs = now_ms;
    // One read may carry two requests that arrived together (an alarm sent right before a frame request):
    // each word is acted on, so that neither is lost.
    const RequestWords words = ScanRequest(text);
    if (words.alarm && Num == AlarmHolder(now_ms)) SoundAlarm();
    if (words.next_frame) {
        c.LastTick = TickCount;
        c.fAlive = platform::kTrue;
        pacing.Request(Num);
    }
}

void Server::SendFrame(std::int32_t Num) {
    const SOCKET s = Clients[Num].VideoSock;
    if (!Sock.SendDCTVideoDataSock(s, PressBuf, PressSize(), Num)) DropFailed(*this, s);
}

void Server::ClientClose(std::int32_t Num) {
    if (Num < 0 || Num >= kClientSlots || !InUse(*this, Num)) return;
    ClientInfo& c = Clients[Num];
    c.fUse = platform::kFalse;
    c.fAlive = platform::kFalse;
    if (c.VideoSock != 0) ShutAndClose(c.VideoSock);
    if (c.WaveSock != 0) ShutAndClose(c.WaveSock);
    c.VideoSock = 0;
    c.WaveSock = 0;
    c.LastTick = 0;
    c.Joined = 0;
    frame_held_[Num] = false;
}

void Server::ReportDrop(int slot, std::string_view why) const {
    const std::string address = CSock::AdToIP(static_cast<std::int32_t>(Clients[slot].Addr.sin_addr.s_addr));
    reporter.Report("tessaly: slot " + std::to_string(slot) + " " + address +
                    " dropped: " + std::string(why));
}

// Slot 1 holds the alarm right as designed, while its receiver still asks. When slot 1 is empty or silent
// (a receiver that hung and reconnected lands in another slot while slot 1 waits for the watchdog), the
// right passes to the longest-connected receiver that still asks.
int Server::AlarmHolder(std::int64_t now_ms) const {
    const auto asking = [&](int slot) {
        const ClientInfo& c = Clients[slot];
        return c.fUse != platform::kFalse && now_ms - c.LastRequestMs < kAskingWithinMs;
    };
    if (asking(1)) return 1;
    int holder = 0;
    for (int slot = 2; slot <= MaxClient; ++slot) {
        if (asking(slot) && (holder == 0 || Clients[slot].Joined < Clients[holder].Joined)) holder = slot;
    }
    return holder;
}

}  // namespace tessaly
