#include "web/window_bridge.h"

#include <chrono>

namespace web {

namespace {

constexpr platform::UINT kRunJobs = 0x8000 + 12;  // a message of the bridge's own window only

}  // namespace

WindowBridge::WindowBridge() {
    window_.SetWindowProc([this](platform::HWND, platform::UINT msg, platform::WPARAM, platform::LPARAM) {
        if (msg == kRunJobs) RunQueued();
        return platform::LRESULT{0};
    });
}

WindowBridge::~WindowBridge() {
    Close();
}

std::shared_ptr<WindowBridge::Job> WindowBridge::Queue(std::function<void()> fn) {
    auto job = std::make_shared<Job>();
    job->fn = std::move(fn);
    bool first = false;
    {
        std::lock_guard lock(mutex_);
        if (closed_ || jobs_.size() >= kMaxWaitingJobs) return nullptr;
        first = jobs_.empty();
        jobs_.push_back(job);
    }
    // One message wakes the window thread for every job queued until it runs.
    if (first) window_.Post(kRunJobs, 0, 0);
    return job;
}

bool WindowBridge::Run(std::function<void()> fn, int wait_ms) {
    std::shared_ptr<Job> job = Queue(std::move(fn));
    if (!job) return false;
    std::unique_lock lock(mutex_);
    if (done_.wait_for(lock, std::chrono::milliseconds(wait_ms), [&] { return job->done || closed_; }))
        return job->done;
    // Too late: a job that has not started never will, so that the asker's "no answer" stays true. One
    // that the window thread is running already is waited for: it is running now, not waiting on a client.
    if (!job->started) {
        job->cancelled = true;
        return false;
    }
    done_.wait(lock, [&] { return job->done || closed_; });
    return job->done;
}

bool WindowBridge::Tell(std::function<void()> fn) {
    return Queue(std::move(fn)) != nullptr;
}

void WindowBridge::RunQueued() {
    std::deque<std::shared_ptr<Job>> jobs;
    {
        std::lock_guard lock(mutex_);
        if (closed_) return;
        jobs.swap(jobs_);
    }
    for (const auto& job : jobs) {
        {
            std::lock_guard lock(mutex_);
            if (job->cancelled) continue;
            job->started = true;
        }
        job->fn();
        std::lock_guard lock(mutex_);
        job->done = true;
    }
    done_.notify_all();
}

void WindowBridge::Close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        jobs_.clear();
    }
    done_.notify_all();
}

}  // namespace web
