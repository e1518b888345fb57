#include "platform/HistoryLock.h"

#include <random>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>

namespace platform {

HistoryLock::HistoryLock(const RealFile& file)
    : fd_(::open((file.path() + ".lock").c_str(),
                 O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, S_IRUSR | S_IWUSR)) {
    struct stat folder {};
    if (fd_.get() < 0) {
        problem_ = because("the lock file beside it could not be created");
    } else if (::stat(file.folder.c_str(), &folder) != 0 || !ownedLike(fd_.get(), folder)) {
        problem_ = because("the owner of the lock file beside it could not be set");
    }
}

std::string HistoryLock::acquire(std::chrono::milliseconds wait) {
    if (!problem_.empty()) {
        return problem_;
    }
    const auto deadline = std::chrono::steady_clock::now() + wait;
    std::minstd_rand jitter(unsigned(::getpid()));
    std::uniform_int_distribution<int> pauseMs(2, 20);
    for (;;) {
        if (::flock(fd_.get(), LOCK_EX | LOCK_NB) == 0) {
            return {};
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            return because("it could not be locked");
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return "the history is locked by another program";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs(jitter)));
    }
}

} // namespace platform
