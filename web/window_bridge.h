// Runs jobs of the HTTP threads on the window thread, where all of the server's state lives. A job goes
// through a window message of the web face's own window (the platform's thread-safe post), so the window
// thread runs it between its other messages and never waits for an HTTP client. The asking thread may
// wait for the answer, bounded; a job whose asker stopped waiting before it started is never run, so that
// an asker told "no answer" knows that nothing happened.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/window/window.h"

namespace web {

class WindowBridge {
  public:
    static constexpr std::size_t kMaxWaitingJobs = 64;

    // Made on the window thread: the jobs run on the thread that makes the bridge.
    WindowBridge();
    ~WindowBridge();
    WindowBridge(const WindowBridge&) = delete;
    WindowBridge& operator=(const WindowBridge&) = delete;

    // Any thread: runs fn on the window thread and returns its result, or nothing when it did not start
    // within wait_ms (it then never runs), too many jobs wait already, or the bridge is closed.
    template <typename R>
    std::optional<R> Ask(std::function<R()> fn, int wait_ms) {
        auto answer = std::make_shared<std::optional<R>>();
        const bool ran = Run([answer, fn = std::move(fn)] { *answer = fn(); }, wait_ms);
        if (!ran) return std::nullopt;
        return *answer;  // written before the job was marked done, under the bridge's lock
    }

    // Any thread: queues fn for the window thread without waiting. False when it cannot be queued.
    bool Tell(std::function<void()> fn);

    // Refuses further jobs and wakes every waiting thread.
    void Close();

  private:
    struct Job {
        std::function<void()> fn;
        bool started = false;
        bool cancelled = false;
        bool done = false;
    };

    bool Run(std::function<void()> fn, int wait_ms);
    std::shared_ptr<Job> Queue(std::function<void()> fn);
    void RunQueued();

    std::mutex mutex_;
    std::condition_variable done_;
    std::deque<std::shared_ptr<Job>> jobs_;
    bool closed_ = false;
    platform::Window window_;
};

}  // namespace web
