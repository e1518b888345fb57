#include "platform/HistoryLock.h"

#include "platform/RootOwnership.h"

#include <random>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

namespace platform {

namespace {

constexpr int Flags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

// Opens the lock file in `folder`, creating it when it is missing. Sets `problem` when there is
// none to use.
Descriptor openLock(int folder, const std::string& name, std::string& problem) {
    struct stat folderStatus {};
    if (::fstat(folder, &folderStatus) != 0) {
        problem = because("its folder could not be read");
        return Descriptor();
    }
    // A removal between a failed create and the open of what was there is a reason to try again.
    for (int tries = 0; tries < 3; ++tries) {
        Descriptor made(::openat(folder, name.c_str(), O_RDWR | O_CREAT | O_EXCL | Flags, 0600));
        if (made.get() >= 0) {
            if (!giveToOwnerOf(made.get(), folderStatus)) {
                problem = because("the owner of the lock file beside it could not be set");
            }
            return made;
        }
        if (errno != EEXIST) {
            problem = because("the lock file beside it could not be created");
            return made;
        }
        // Looked at before it is opened: opening a device node could already act on it.
        struct stat found {};
        if (::fstatat(folder, name.c_str(), &found, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        Descriptor existing(
            S_ISREG(found.st_mode) ? ::openat(folder, name.c_str(), O_RDONLY | Flags) : -1);
        if (existing.get() < 0 && S_ISREG(found.st_mode) && errno == ENOENT) {
            continue;
        }
        if (existing.get() < 0 || ::fstat(existing.get(), &found) != 0) {
            problem = because("the lock file beside it could not be opened",
                              S_ISDIR(found.st_mode) ? EISDIR : errno);
        } else if (!S_ISREG(found.st_mode)) {
            problem = "the lock file beside it is not a plain file, so it was not used";
        } else if (found.st_nlink != 1) {
            problem = "the lock file beside it is also another file (a hard link), so it was not "
                      "used";
        } else if (found.st_uid == 0 && folderStatus.st_uid != 0 &&
                   !giveToOwnerOf(existing.get(), folderStatus)) {
            // Left by an earlier run as root: the folder's owner must be able to open it again.
            problem = because("the owner of the lock file beside it could not be set");
        }
        return existing;
    }
    problem = because("the lock file beside it could not be created", EAGAIN);
    return Descriptor();
}

} // namespace

HistoryLock::HistoryLock(const RealFile& file) {
    const Descriptor folder(::open(file.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0) {
        problem_ = because("its folder could not be opened");
        return;
    }
    fd_ = openLock(folder.get(), file.name + ".lock", problem_);
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
            return HeldElsewhere;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs(jitter)));
    }
}

} // namespace platform
