#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;
class QTimer;

namespace window {

// Brings "something is ready" from another thread into the event loop of the thread that made
// it: wake() may be called from any thread, and `onWake` then runs from the event loop. An
// eventfd carries the wake-up; should none be had (no descriptor left, say), a timer asks every
// tenth of a second instead, so that nothing ready is ever left waiting.
// Deliberately not QMetaObject::invokeMethod or postEvent from the other thread: their hand-over
// goes through Qt's own futex-based mutex, which ThreadSanitizer cannot see, so the race check
// then reports Qt's posted-event list as raced. What is ready passes under a std::mutex instead.
class EventLoopWakeUp {
public:
    explicit EventLoopWakeUp(std::function<void()> onWake);
    ~EventLoopWakeUp();
    EventLoopWakeUp(const EventLoopWakeUp&) = delete;
    EventLoopWakeUp& operator=(const EventLoopWakeUp&) = delete;

    void wake();

private:
    const int fd_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::unique_ptr<QTimer> poll_;
};

} // namespace window
