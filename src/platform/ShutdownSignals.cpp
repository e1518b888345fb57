#include "platform/ShutdownSignals.h"

#include "platform/StopRequest.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

// The handler may only do async-signal-safe work: it writes one byte to this socket. It runs
// on whichever thread the kernel picks, so the number is a lock-free atomic.
std::atomic<int> signalSocket{-1};
std::atomic<bool> closingTheWindow{false};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

// The stop signals that would have ended the program as it was started. One it was started
// with ignored (SIGHUP under nohup, SIGINT in a background job of a script) stays ignored, as
// whoever started it meant; SIGTERM always closes it. Read once, before any handler is set.
const std::vector<int>& handledSignals() {
    static const std::vector<int> handled = [] {
        std::vector<int> numbers{SIGTERM};
        for (int number : {SIGINT, SIGHUP}) {
            struct sigaction inherited {};
            if (sigaction(number, nullptr, &inherited) == 0 && inherited.sa_handler != SIG_IGN) {
                numbers.push_back(number);
            }
        }
        return numbers;
    }();
    return handled;
}

void setHandler(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : handledSignals()) {
        sigaction(number, &action, nullptr);
    }
}

} // namespace

ShutdownSignals::ShutdownSignals(QObject* parent)
    : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, sockets_) != 0) {
        return; // the signals then keep their default effect
    }
    signalSocket = sockets_[0];
    notifier_ = new QSocketNotifier(sockets_[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &ShutdownSignals::onSignalByte);
    setHandler(&ShutdownSignals::handleSignal);
}

ShutdownSignals::~ShutdownSignals() {
    if (sockets_[0] >= 0) {
        // Gone as the program ends, once the history is written: a stop request that comes
        // late (SIGHUP just after SIGTERM, at logout) has nothing left to stop, and must not
        // kill the program during its teardown with a status that says it failed.
        setHandler(SIG_IGN);
        signalSocket = -1;
        ::close(sockets_[0]);
        ::close(sockets_[1]);
    }
}

void ShutdownSignals::closeWindowFromNowOn() {
    closingTheWindow = true;
}

void ShutdownSignals::handleSignal(int) {
    if (!closingTheWindow) {
        constexpr char Words[] = "tavik: stopped while starting; nothing had been saved yet.\n";
        [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, Words, sizeof Words - 1);
        ::_exit(0);
    }
    stopRequested = true;
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalSocket.load(), &byte, 1);
    errno = savedErrno;
}

void ShutdownSignals::onSignalByte() {
    char bytes[16];
    while (::read(sockets_[1], bytes, sizeof bytes) > 0) {
    }
    emit shutdownRequested();
}

} // namespace platform
