#include "platform/AtomicReplace.h"

#include "platform/Descriptor.h"
#include "platform/Leftovers.h"
#include "platform/RootOwnership.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

namespace platform {

namespace {

// A flush interrupted by a signal has not failed: it is asked for again.
bool flushed(int fd) {
    while (::fsync(fd) != 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

// Writes all of `bytes` to `fd`, or says why it could not.
std::string writeAll(int fd, const std::string& bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return systemReason(n < 0 ? errno : ENOSPC);
        }
        written += std::size_t(n);
    }
    return {};
}

// The new file is owned as the file it replaces, or as its folder when there is none yet.
bool ownedAsBefore(int fd, const RealFile& file) {
    struct stat model {};
    return (::stat(file.path().c_str(), &model) == 0 || ::stat(file.folder.c_str(), &model) == 0) &&
           giveToOwnerOf(fd, model);
}

// Makes the rename that replaced the file durable as well as its contents.
std::string syncFolder(const std::string& folder) {
    const Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd.get() >= 0 && flushed(fd.get()) ? std::string()
                                              : because("its folder could not be flushed to disk");
}

} // namespace

ReplaceResult replaceFile(const RealFile& file, const std::string& bytes, std::size_t carried,
                          const HistoryLock& lock, std::vector<HeldLeftover>& described,
                          const std::function<void(WritePhase)>& beginStep) {
    beginStep(WritePhase::Making);
    const std::string path = file.path();
    std::string temporaryName = leftoverTemplate(file, carried);
    Descriptor temporary(::mkostemp(temporaryName.data(), O_CLOEXEC));
    ReplaceResult replacing;
    if (temporary.get() < 0) {
        replacing.outcome = {because("a new file beside it could not be created")};
        return replacing;
    }
    // Locked while this write works on it: a file that can be locked is a leftover. The umask
    // may have taken the owner's own rights away.
    std::string problem = ::flock(temporary.get(), LOCK_EX | LOCK_NB) != 0
                              ? because("the new file beside it could not be locked")
                          : ::fchmod(temporary.get(), S_IRUSR | S_IWUSR) != 0
                              ? because("its permissions could not be set")
                          : !ownedAsBefore(temporary.get(), file)
                              ? because("its owner could not be kept")
                              : (beginStep(WritePhase::Writing), writeAll(temporary.get(), bytes));
    if (problem.empty()) {
        beginStep(WritePhase::Flushing);
        problem = flushed(temporary.get()) ? std::string() : systemReason();
    }
    if (problem.empty() && !lock.isTheLock()) {
        replacing.lockLost = true;
        problem = "its lock file was removed during the write";
    }
    if (problem.empty()) {
        problem = markTaken(file, described, temporaryName);
    }
    if (problem.empty() && ::rename(temporaryName.c_str(), path.c_str()) != 0) {
        problem = because("the new file could not take its place");
    }
    if (!problem.empty()) {
        // Should a taken leftover keep its taken name, the new file must stay: while it is there,
        // the next start still gives that leftover back.
        struct stat status {};
        if ((!unmarkTaken(file, described) ||
             (::unlink(temporaryName.c_str()) != 0 && errno != ENOENT)) &&
            ::fstat(temporary.get(), &status) == 0) {
            const std::string name = temporaryName.substr(temporaryName.rfind('/') + 1);
            replacing.leftBehind = HeldLeftover{
                name, ownPart(name), {status.st_dev, status.st_ino}, std::move(temporary)};
        }
        replacing.outcome = {problem};
        return replacing;
    }
    beginStep(WritePhase::InPlace);
    std::string folderFlushed = syncFolder(file.folder);
    if (const std::string closed = temporary.close(); folderFlushed.empty()) {
        folderFlushed = closed;
    }
    replacing.outcome = {folderFlushed, true};
    return replacing;
}

} // namespace platform
