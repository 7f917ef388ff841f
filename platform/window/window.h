// platform/window, the bottom of the platform layer (Qt Core only): the window object and its posted
// messages (window.h), timers (timer.h), message boxes (msgbox.h), the program's folder (paths.h) and
// SIGINT/SIGTERM as a call on the window thread (signals.h). The other platform rooms that need a window
// (winsock, wave, the Qt front-end) build on this one; it depends on none of them.
//
// The stand-in for a Win32 main window: a target for posted messages whose window procedure a program
// can replace and restore, as SetWindowLongA(GWL_WNDPROC) and CallWindowProcA allow.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

using UINT = unsigned int;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

class Window;
using HWND = Window*;
using WNDPROC = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

// Message numbers keep their original values.
constexpr UINT WM_SOCKET = 2064;
constexpr UINT MM_WOM_OPEN = 955;
constexpr UINT MM_WOM_CLOSE = 956;
constexpr UINT MM_WOM_DONE = 957;
constexpr UINT MM_WIM_OPEN = 958;
constexpr UINT MM_WIM_CLOSE = 959;
constexpr UINT MM_WIM_DATA = 960;

// A window lives on the thread that creates it (the window thread, which runs the Qt event loop). Every
// posted message reaches the current procedure on that thread, one at a time, in posting order.
class Window {
public:
    Window();
    ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    // Installs proc as the window procedure and returns the one it replaces.
    WNDPROC SetWindowProc(WNDPROC proc);
    const WNDPROC& GetWindowProc() const;

    // Calls the current procedure at once (SendMessage on the window thread). Without one it returns 0.
    LRESULT Send(UINT msg, WPARAM wParam, LPARAM lParam);

    // Queues a message for the window thread. Safe from any thread while the window exists.
    bool Post(UINT msg, WPARAM wParam, LPARAM lParam);

    // Messages handled so far; lets tests and benchmarks see that nothing is spinning.
    std::uint64_t DeliveredCount() const { return delivered_; }

private:
    struct Receiver;
    friend struct Receiver;
    void Deliver(UINT msg, WPARAM wParam, LPARAM lParam);

    // Shared so that a message in progress keeps its procedure alive when the procedure is replaced
    // meanwhile, without copying the procedure for every message.
    std::shared_ptr<const WNDPROC> proc_;
    std::unique_ptr<Receiver> receiver_;
    std::uint64_t delivered_ = 0;
};

bool PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Passes a message on to a replaced procedure; an empty one stands for the default procedure (result 0).
LRESULT CallWindowProc(const WNDPROC& prev, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// "Let pending window messages run": processes what is queued now and returns.
void DoEvents();

// Runs the event loop until deadline_ms have passed or done() is true; for tests and tools that need a
// bounded wait. Returns done().
bool RunUntil(const std::function<bool()>& done, int deadline_ms);

// A Boolean of the programs' records and classes: 16 bits, True = -1 (all bits set), False = 0.
using Flag = std::int16_t;
inline constexpr Flag kTrue = -1;
inline constexpr Flag kFalse = 0;

}  // namespace platform

// The program-wide handle of the main window: set at load before any socket or sound device is opened,
// cleared at shut-down. Every socket registration and both wave devices name this window.
extern platform::HWND hMainWnd;
