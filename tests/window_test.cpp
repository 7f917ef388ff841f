#include "platform/window/window.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "allocation_counter.h"
#include "platform/window/timer.h"

using namespace platform;

TEST(Window, PostedMessagesReachTheProcedureInOrderFromAnyThread) {
    Window w;
    std::vector<WPARAM> seen;
    w.SetWindowProc([&](HWND, UINT msg, WPARAM wp, LPARAM) -> LRESULT {
        if (msg == WM_SOCKET) seen.push_back(wp);
        return 0;
    });
    std::thread t([&] {
        for (WPARAM i = 0; i < 100; ++i) PostMessage(&w, WM_SOCKET, i, 0);
    });
    t.join();
    ASSERT_TRUE(RunUntil([&] { return seen.size() == 100; }, 2000));
    for (WPARAM i = 0; i < 100; ++i) EXPECT_EQ(seen[i], i);
}

TEST(Window, HookKeepsThePreviousProcedureAndUnhookRestoresIt) {
    Window w;
    int base_calls = 0;
    w.SetWindowProc([&](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return ++base_calls; });
    std::vector<UINT> hooked;
    WNDPROC prev;
    prev = w.SetWindowProc([&](HWND h, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
        hooked.push_back(m);
        return CallWindowProc(prev, h, m, wp, lp);  // the hook passes every message on first
    });
    EXPECT_EQ(SendMessage(&w, 1, 0, 0), 1);
    w.SetWindowProc(prev);  // unhook
    EXPECT_EQ(SendMessage(&w, 2, 0, 0), 2);
    EXPECT_EQ(hooked, std::vector<UINT>{1});
}

TEST(Window, PostingAndDeliveringMessagesAllocatesNothing) {
    Window w;
    int n = 0;
    w.SetWindowProc([&n](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return ++n; });
    auto post_and_deliver = [&] {
        for (int i = 0; i < 50; ++i) PostMessage(&w, WM_SOCKET, i, 1);
        DoEvents();
    };
    post_and_deliver();  // the event queue reaches its working size
    const long before = AllocationCount();
    post_and_deliver();
    EXPECT_EQ(AllocationCount() - before, 0);
    EXPECT_EQ(n, 100);
}

TEST(Window, DoEventsRunsWhatIsQueuedAndReturns) {
    Window w;
    int n = 0;
    w.SetWindowProc([&](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return ++n; });
    PostMessage(&w, 5, 0, 0);
    PostMessage(&w, 5, 0, 0);
    DoEvents();
    EXPECT_EQ(n, 2);
    EXPECT_FALSE(PostMessage(nullptr, 5, 0, 0));
}

TEST(Timer, ZeroIntervalStopsAndPositiveIntervalTicks) {
    int ticks = 0;
    Timer timer([&] { ++ticks; });
    EXPECT_FALSE(timer.Running());
    timer.SetInterval(5);
    EXPECT_TRUE(timer.Running());
    ASSERT_TRUE(RunUntil([&] { return ticks >= 2; }, 2000));
    timer.SetInterval(0);
    EXPECT_FALSE(timer.Running());
    timer.SetInterval(5);
    timer.SetEnabled(false);
    EXPECT_FALSE(timer.Running());
    int before = ticks;
    timer.Fire();
    EXPECT_EQ(ticks, before + 1);
}
