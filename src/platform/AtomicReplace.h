#pragma once

#include "platform/HistoryLock.h"
#include "platform/HistoryStore.h"
#include "platform/Leftovers.h"
#include "platform/RealFile.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct ReplaceResult {
    HistoryStore::Outcome outcome;
    bool lockLost = false; // the lock was no longer the lock: nothing was replaced
    // Its own new file, which could not be removed after a failure: held, so that it never
    // comes back to this run as a leftover.
    std::optional<HeldLeftover> leftBehind;
};

// Replaces `file` with `bytes`, whose last `carried` records are saves that no other file
// describes: writes them to a new file beside it (a leftover, should the write be cut short
// before it takes the file's place), private to its owner and owned as the old one was, flushes
// it to disk, checks that `lock` is still the lock, marks the leftovers `described` (whose saves
// `bytes` holds too) as taken by it, renames the new file over the old one and flushes the
// folder, checking every step. A failure before the rename leaves the old file whole, and puts
// the leftovers' names back before the new file goes; a failure after it says that the file was
// replaced. The new file is locked through its one descriptor until it is renamed or removed: on
// NFS a flock is a POSIX lock, which any close of the file lets go.
// Deliberately not QSaveFile: Qt 6.4's commit() does not report a failed final flush, it never
// flushes the folder, and this also runs from the exit hook, where as little of Qt as possible
// should be involved.
// `beginStep` is told as each step begins.
ReplaceResult replaceFile(const RealFile& file, const std::string& bytes, std::size_t carried,
                          const HistoryLock& lock, std::vector<HeldLeftover>& described,
                          const std::function<void(WritePhase)>& beginStep);

} // namespace platform
