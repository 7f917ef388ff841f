// The server's program-wide state: the client table, the flags that the window procedure, the timer and the
// frame callback share, the frame buffers, and the single instances of the codec, the socket layer and the
// sound layer. Everything here is touched on the window thread only.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "media/picture_geometry.h"
#include "platform/window/window.h"
#include "platform/winsock/winsock.h"

class CCODEC;
class CSock;
class CWAVE;

namespace tessaly {

using SOCKET = winsock::SOCKET;

// One slot of the client table: a receiver's video connection, its sound connection and its bookkeeping.
struct ClientInfo {
    platform::Flag fUse = platform::kFalse;    // the slot holds a client
    platform::Flag fAlive = platform::kFalse;  // a frame request came since the last watchdog tick
    winsock::SOCKADDR_IN Addr{};               // peer of the video connection; kept when the slot is freed
    SOCKET VideoSock = 0;
    SOCKET WaveSock = 0;
    std::int32_t LastTick = 0;  // TickCount when the slot was filled and at each frame request
};

inline constexpr std::int32_t kReceiverSlots = 10;  // slots 1..10 take receivers: MaxClient at start
inline constexpr int kClientSlots = 12;  // slot 0 only ever holds a stray sound connection; 11 is unused
inline constexpr int kPressBufBytes = 15001 + 2;  // the largest frame and the end marker behind it
inline constexpr int kCapBufBytes = media::kPictureRowBytes * media::kPictureHeight;

extern std::array<ClientInfo, kClientSlots> Clients;
extern std::int32_t MaxClient;
extern std::int32_t TickCount;
extern std::int32_t LastSlot;
extern SOCKET AcceptSock;
extern platform::Flag fWaveSend;
extern platform::Flag fEncode;
extern std::u16string RecvText;
extern std::array<SOCKET, 2> ListenSock;
extern std::array<std::uint8_t, kPressBufBytes> PressBuf;
extern std::array<std::uint8_t, kCapBufBytes> CapBuf;
extern platform::WNDPROC PrevWndProc;

// The single instances, made by Form_Load and living until the program ends.
CCODEC& Codec();
CSock& Sock();
CWAVE& Wave();
bool HaveInstances();
void MakeInstances();

// Length of the current compressed frame in PressBuf.
std::int32_t PressSize();

// Sends a sound command (the chime, the alarm, opening and closing them). Tests watch the commands.
// Returns the command's error number (0 on success).
std::uint32_t SoundCommand(std::string_view command);
void SetSoundCommandObserver(std::function<void(std::string_view)> observer);

// Puts the whole module back to its state at program start (for tests that run the server many times).
void ResetServerModule();

}  // namespace tessaly
