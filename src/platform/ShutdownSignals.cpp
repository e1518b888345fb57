#include "platform/ShutdownSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr int HandledSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The handler may only do async-signal-safe work: it writes one byte to this socket.
volatile std::sig_atomic_t signalSocket = -1;

void setHandler(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : HandledSignals) {
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

void ShutdownSignals::handleSignal(int) {
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalSocket, &byte, 1);
    errno = savedErrno;
}

void ShutdownSignals::onSignalByte() {
    char bytes[16];
    while (::read(sockets_[1], bytes, sizeof bytes) > 0) {
    }
    emit shutdownRequested();
}

} // namespace platform
