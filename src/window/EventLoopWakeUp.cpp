#include "window/EventLoopWakeUp.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cstdint>

#include <sys/eventfd.h>
#include <unistd.h>

namespace window {

EventLoopWakeUp::EventLoopWakeUp(std::function<void()> onWake)
    : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (fd_ < 0) {
        poll_ = std::make_unique<QTimer>();
        QObject::connect(poll_.get(), &QTimer::timeout, onWake);
        poll_->start(100);
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this, onWake] {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t read = ::read(fd_, &count, sizeof count);
        onWake();
    });
}

EventLoopWakeUp::~EventLoopWakeUp() {
    notifier_.reset();
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void EventLoopWakeUp::wake() {
    if (fd_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(fd_, &one, sizeof one);
    }
}

} // namespace window
