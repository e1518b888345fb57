#include "platform/FileHistoryStore.h"

#include "platform/AtomicReplace.h"
#include "platform/Descriptor.h"
#include "platform/HistoryLock.h"
#include "platform/Leftovers.h"
#include "platform/OwnFolder.h"
#include "platform/PathNames.h"
#include "platform/ReadAtMost.h"
#include "platform/RealFile.h"

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>

namespace platform {

namespace {

StoredHistory failed(StoredHistory::State state, std::string problem) {
    StoredHistory stored;
    stored.state = state;
    stored.problem = std::move(problem);
    return stored;
}

StoredHistory unreadable(std::string problem) {
    return failed(StoredHistory::State::Unreadable, std::move(problem));
}

StoredHistory readFile(const std::string& path) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer that never comes.
    const Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        return errno == ENOENT ? StoredHistory{} : unreadable(systemReason());
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) {
        return unreadable(systemReason());
    }
    if (S_ISDIR(status.st_mode)) {
        return unreadable("it is a folder");
    }
    // A FIFO, a socket or a device such as /dev/zero may never end.
    if (!S_ISREG(status.st_mode)) {
        return unreadable("it is not a regular file");
    }
    if (std::size_t(status.st_size) > HistoryStore::LargestFile) {
        return unreadable(HistoryStore::TooLarge);
    }
    // One byte past the limit tells a file that grew too large meanwhile.
    StoredHistory stored;
    if (const int error = readAtMost(fd.get(), HistoryStore::LargestFile + 1, stored.bytes)) {
        return unreadable(systemReason(error));
    }
    if (stored.bytes.size() > HistoryStore::LargestFile) {
        return unreadable(HistoryStore::TooLarge);
    }
    stored.state = StoredHistory::State::Present;
    return stored;
}

} // namespace

FileHistoryStore::FileHistoryStore(HistoryLocation location)
    : location_(std::move(location)) {}

std::string FileHistoryStore::location() const {
    return location_.path.empty() ? std::string("the history file") : location_.path;
}

HistoryAtStart FileHistoryStore::read() {
    if (!location_.problem.empty()) {
        return {failed(StoredHistory::State::Nowhere, location_.problem)};
    }
    HistoryAtStart found{readFile(location_.path)};
    if (const RealFile file = followLinks(location_.path); file.problem.empty()) {
        found.leftoversBeside = anyLeftovers(file);
    }
    return found;
}

HistoryStore::Outcome FileHistoryStore::update(const Rewrite& rewrite,
                                               std::chrono::milliseconds lockWait) {
    if (!location_.problem.empty()) {
        return {location_.problem};
    }
    beginStep(WritePhase::Reaching);
    struct Done {
        FileHistoryStore& store;
        ~Done() { store.beginStep(WritePhase::None); }
    } done{*this};
    if (std::string problem = makeOwnFolder(folderOf(location_.path)); !problem.empty()) {
        return {problem};
    }
    // Every route to one file takes the same lock beside it.
    const RealFile file = followLinks(location_.path);
    if (!file.problem.empty()) {
        return {file.problem};
    }
    // A lock taken from under the write (its file removed) makes the write start again, under
    // the new lock; a few times at most.
    ReplaceResult replacing;
    for (int tries = 0; tries < 3 && (tries == 0 || replacing.lockLost); ++tries) {
        beginStep(WritePhase::Reaching);
        HistoryLock lock(file);
        beginStep(WritePhase::WaitingForLock);
        const auto lockTaken = [this] {
            beginStep(WritePhase::WaitingForLock);
        };
        if (std::string problem = lock.acquire(lockWait, lockTaken); !problem.empty()) {
            return {problem};
        }
        beginStep(WritePhase::Reaching);
        if (held_.size() >= MostHeld) {
            return {"too many files of its own beside it could not be removed"};
        }
        std::set<FileId> skip = passedOver_;
        for (const HeldLeftover& held : held_) {
            skip.insert(held.id);
        }
        FoundLeftovers found = findLeftovers(file, LargestFile, skip);
        LockedHistory now{readFile(file.path()), std::move(found.leftovers), found.more};
        const std::optional<NewHistory> newHistory = rewrite(now);
        if (!newHistory) {
            return {};
        }
        // What the rewrite took in is the run's own from now on; the rest is left as it is.
        for (HeldLeftover& leftover : found.held) {
            const auto& taken = newHistory->taken;
            if (std::find(taken.begin(), taken.end(), leftover.name) != taken.end()) {
                held_.push_back(std::move(leftover));
            } else {
                passedOver_.insert(leftover.id);
            }
        }
        replacing = replaceFile(file, newHistory->bytes, newHistory->carried, lock, held_,
                                [this](WritePhase phase) { beginStep(phase); });
        if (replacing.leftBehind) {
            held_.push_back(std::move(*replacing.leftBehind));
        }
    }
    // Once a history holding their saves is in place (even should the disk not confirm it:
    // the retry covers them), the files that described them go.
    if (replacing.outcome.replaced) {
        removeLeftovers(file, held_);
    }
    return replacing.outcome;
}

} // namespace platform
