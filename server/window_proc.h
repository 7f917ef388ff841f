// The server's window procedure: every sound-input buffer and every socket event of the server arrives here.
// It fills and frees the slots of the client table (refusing peers that --allow does not name), answers
// frame requests with the current frame (each picture once, frame_pacing.h), pushes
// each sound block to every sound connection and sounds the alarm.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/window.h"

namespace tessaly {

platform::LRESULT WindowProc(platform::HWND hwnd, platform::UINT msg, platform::WPARAM wParam,
                             platform::LPARAM lParam);

// Installs WindowProc on the window and keeps the procedure it replaces in PrevWndProc; UnhookWindow puts
// that one back.
void HookWindow(platform::HWND hwnd);
void UnhookWindow(platform::HWND hwnd);

// Acts on one request text read from the video connection of slot Num.
void HandleRequest(std::u16string_view text, std::int32_t Num);

// Sends the current frame on slot Num's video connection; a failed send frees the slot.
void SendFrame(std::int32_t Num);

// Frees slot Num: shuts down and closes both of its connections. A free slot is left alone.
void ClientClose(std::int32_t Num);

// Starts the sound capture that feeds every sound connection (and the web face), once.
void StartSound();
// Plays the alarm when the security mode is on, as a receiver's alarm request from slot 1 does; true when
// it played.
bool SoundAlarm();

// The security mode (the check mark of "セキュリティモード"): the main window installs how to read it.
bool SecurityMode();
void SetSecurityModeSource(bool (*source)());

}  // namespace tessaly
