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

// Why what stands at the lock's place was not used, when it is not a plain file: told by what it
// is.
const char* kindOf(mode_t mode) {
    return S_ISREG(mode)    ? nullptr
           : S_ISDIR(mode)  ? "a folder"
           : S_ISLNK(mode)  ? "a symbolic link"
           : S_ISFIFO(mode) ? "a FIFO"
           : S_ISSOCK(mode) ? "a socket"
                            : "a device";
}

std::string notUsed(const char* kind) {
    return std::string("the lock file beside it is ") + kind + ", so it was not used";
}

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
        if (const char* kind = kindOf(found.st_mode)) {
            problem = notUsed(kind);
            return Descriptor();
        }
        // Read-write: on NFS an exclusive flock needs a descriptor open for writing.
        Descriptor existing(::openat(folder, name.c_str(), O_RDWR | Flags));
        if (existing.get() < 0 && errno == ENOENT) {
            continue;
        }
        if (existing.get() < 0 || ::fstat(existing.get(), &found) != 0) {
            problem = because("the lock file beside it could not be opened");
        } else if (const char* kind = kindOf(found.st_mode)) {
            problem = notUsed(kind);
        } else if (found.st_nlink != 1) {
            problem = "the lock file beside it is also another file (a hard link), so it was not "
                      "used";
        } else if (found.st_uid == 0 && folderStatus.st_uid != 0 && found.st_size == 0 &&
                   !giveToOwnerOf(existing.get(), folderStatus)) {
            // Left by an earlier run as root: the folder's owner must be able to open it again.
            // A file with content was never a lock of ours, and is not given away.
            problem = because("the owner of the lock file beside it could not be set");
        }
        return existing;
    }
    problem = because("the lock file beside it could not be created", EAGAIN);
    return Descriptor();
}

} // namespace

HistoryLock::HistoryLock(const RealFile& file)
    : folder_(::open(file.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    , name_(file.name + ".lock") {
    if (folder_.get() < 0) {
        problem_ = because("its folder could not be opened");
        return;
    }
    fd_ = openLock(folder_.get(), name_, problem_);
}

bool HistoryLock::isTheLock() const {
    struct stat held {
    }, atItsPlace{};
    return ::fstat(fd_.get(), &held) == 0 &&
           ::fstatat(folder_.get(), name_.c_str(), &atItsPlace, AT_SYMLINK_NOFOLLOW) == 0 &&
           held.st_dev == atItsPlace.st_dev && held.st_ino == atItsPlace.st_ino;
}

std::string HistoryLock::acquire(std::chrono::milliseconds wait,
                                 const std::function<void()>& answered) {
    if (!problem_.empty()) {
        return problem_;
    }
    const auto deadline = std::chrono::steady_clock::now() + wait;
    std::minstd_rand jitter(unsigned(::getpid()));
    std::uniform_int_distribution<int> pauseMs(2, 20);
    for (;;) {
        if (::flock(fd_.get(), LOCK_EX | LOCK_NB) == 0) {
            if (isTheLock()) {
                return {};
            }
            // Removed or replaced while another copy held it: the lock is what is there now.
            fd_ = openLock(folder_.get(), name_, problem_);
            if (!problem_.empty()) {
                return problem_;
            }
        } else if (errno != EWOULDBLOCK && errno != EINTR) {
            return because("it could not be locked");
        } else {
            answered();
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return HeldElsewhere;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs(jitter)));
    }
}

} // namespace platform
