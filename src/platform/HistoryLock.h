#pragma once

#include "platform/Descriptor.h"
#include "platform/RealFile.h"

#include <chrono>
#include <functional>
#include <string>

namespace platform {

// An exclusive flock(2) on a file beside the real history file (NAME.lock), held until this
// object goes; every copy of the program takes it before it reads the file for a rewrite.
// The lock file is created when it is missing; one found there is used as it is, and only when
// it is a plain file of its own (not a hard link to another file, which root must not touch).
// A lock is only the lock while its file is the one at the lock's path: a lock file removed or
// replaced (a cleaner, a person) would let another copy take a new lock and write at once.
// Deliberately not QLockFile: it cannot say why a lock file could not be made (a full disk, a
// read-only folder and a folder in its place all look alike), it waits out its whole timeout
// when a folder stands at the lock's path, and its doubling retry interval lets copies that
// wait behind many others time out. A kernel lock also goes with a process that is killed, so
// there is no stale lock to detect.
class HistoryLock {
public:
    explicit HistoryLock(const RealFile& file);

    // Tries at short, random intervals until `wait` has passed, so that many copies closing at
    // once take turns rather than back off in step. Returns what went wrong, if anything.
    // Once locked, checks that the file is still the one at the lock's path, and takes the new
    // one when it is not. `answered` is called each time flock answers that another holds the
    // lock: only then is the wait a wait on another program, and not the disk's silence.
    std::string acquire(std::chrono::milliseconds wait, const std::function<void()>& answered);

    // True while the locked file is still the one at the lock's path.
    bool isTheLock() const;

    // What a copy that cannot get the lock is told: the holder may be any program, or another
    // copy of this one still finishing a write on a disk that does not answer.
    static constexpr char HeldElsewhere[] =
        "the history is locked by another program, or by another copy of Tavik still finishing "
        "a write";

private:
    Descriptor folder_;
    std::string name_;
    Descriptor fd_;
    std::string problem_;
};

} // namespace platform
