#include "platform/window/window.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <cstddef>
#include <mutex>

platform::HWND hMainWnd = nullptr;

namespace platform {
namespace {

const QEvent::Type kMessageEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// Queued messages come from a pool of event objects, so that posting a message (a socket notification,
// a filled sound buffer) allocates nothing. Qt deletes each event after delivery, which returns it here.
// Only when more messages wait at once than the pool holds do further ones come from the heap.
class EventPool {
  public:
    static constexpr std::size_t kSlots = 4096;
    static constexpr std::size_t kSlotSize = 64;

    void* Take(std::size_t size) {
        if (size <= kSlotSize) {
            std::lock_guard lock(mutex_);
            if (free_count_ > 0) return slots_[free_[--free_count_]].bytes;
        }
        return ::operator new(size);
    }
    void Give(void* p) {
        auto* slot = static_cast<Slot*>(p);
        if (slot < slots_ || slot >= slots_ + kSlots) return ::operator delete(p);
        std::lock_guard lock(mutex_);
        free_[free_count_++] = static_cast<std::uint16_t>(slot - slots_);
    }
    EventPool() {
        for (std::size_t i = 0; i < kSlots; ++i) free_[i] = static_cast<std::uint16_t>(kSlots - 1 - i);
        free_count_ = kSlots;
    }

  private:
    struct alignas(std::max_align_t) Slot {
        unsigned char bytes[kSlotSize];
    };
    std::mutex mutex_;
    Slot slots_[kSlots];
    std::uint16_t free_[kSlots];
    std::size_t free_count_ = 0;
};

EventPool& Pool() {
    static EventPool pool;
    return pool;
}

// A message crosses from the posting thread to the window thread through Qt's queue, whose own lock
// orders the two. The race checker cannot see that lock (Qt is not built with it), and a pooled slot is
// reused, so the message also publishes its words through `published`: a release store after they are
// written, an acquire load before they are read. On x86 both are plain moves.
struct MessageEvent : QEvent {
    MessageEvent(UINT m, WPARAM w, LPARAM l) : QEvent(kMessageEvent), msg(m), wParam(w), lParam(l) {
        published.store(true, std::memory_order_release);
    }
    static void* operator new(std::size_t size) { return Pool().Take(size); }
    static void operator delete(void* p) { Pool().Give(p); }
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
    std::atomic<bool> published{false};
};
static_assert(sizeof(MessageEvent) <= EventPool::kSlotSize);

}  // namespace

// The QObject that receives the queued messages on the window thread.
struct Window::Receiver : QObject {
    explicit Receiver(Window* w) : owner(w) {}
    bool event(QEvent* e) override {
        if (e->type() != kMessageEvent) return QObject::event(e);
        auto* m = static_cast<MessageEvent*>(e);
        m->published.load(std::memory_order_acquire);
        owner->Deliver(m->msg, m->wParam, m->lParam);
        return true;
    }
    Window* owner;
};

Window::Window() : receiver_(std::make_unique<Receiver>(this)) {}

Window::~Window() {
    QCoreApplication::removePostedEvents(receiver_.get(), kMessageEvent);
}

WNDPROC Window::SetWindowProc(WNDPROC proc) {
    WNDPROC previous = proc_ ? *proc_ : WNDPROC();
    proc_ = proc ? std::make_shared<const WNDPROC>(std::move(proc)) : nullptr;
    return previous;
}

const WNDPROC& Window::GetWindowProc() const {
    static const WNDPROC none;
    return proc_ ? *proc_ : none;
}

LRESULT Window::Send(UINT msg, WPARAM wParam, LPARAM lParam) {
    // Hold a reference first: a procedure may replace itself while it runs (UnhookWindow in a handler).
    std::shared_ptr<const WNDPROC> proc = proc_;
    if (!proc) return 0;
    return (*proc)(this, msg, wParam, lParam);
}

bool Window::Post(UINT msg, WPARAM wParam, LPARAM lParam) {
    QCoreApplication::postEvent(receiver_.get(), new MessageEvent(msg, wParam, lParam));
    return true;
}

void Window::Deliver(UINT msg, WPARAM wParam, LPARAM lParam) {
    ++delivered_;
    Send(msg, wParam, lParam);
}

bool PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return hwnd != nullptr && hwnd->Post(msg, wParam, lParam);
}

LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return hwnd ? hwnd->Send(msg, wParam, lParam) : 0;
}

LRESULT CallWindowProc(const WNDPROC& prev, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return prev ? prev(hwnd, msg, wParam, lParam) : 0;
}

void DoEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool RunUntil(const std::function<bool()>& done, int deadline_ms) {
    QDeadlineTimer deadline(deadline_ms);
    QTimer wake;  // wakes the blocking wait below so that the deadline is seen
    wake.start(10);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

}  // namespace platform
