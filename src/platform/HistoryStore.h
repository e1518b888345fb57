#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// A leftover: the new file of a write cut short (kill -9, a crash, a power cut), left beside the
// history. Its last `carried` records are the saves that write carried, which no other file
// describes.
struct Leftover {
    std::string name;        // in the history's folder
    std::string bytes;       // all of it, when `problem` is empty
    std::size_t carried = 0; // how many of its last records are the saves it carried
    // Why its saves cannot be given back, and what the person can do, if they cannot: it cannot
    // be opened or read whole, or it is of an earlier form.
    std::string problem;
    std::string path; // in full, for messages
};

// The history file's contents as found on disk.
struct StoredHistory {
    enum class State {
        Present,    // read whole into `bytes`
        Missing,    // no file yet: an empty history
        Unreadable, // exists but could not be read: `problem` says why
        Nowhere     // there is no place to keep it: `problem` says why
    };
    State state = State::Missing;
    std::string bytes;
    std::string problem;
};

// What read() finds at start: the file, and whether leftovers lie beside it (only looked for:
// what they hold is read under the lock, by the write that gives their saves back).
struct HistoryAtStart : StoredHistory {
    bool leftoversBeside = false;
};

// What a rewrite is given under the lock: the file, and the leftovers beside it that no write
// holds, oldest first, a few at a time (`moreLeftovers`: newer ones wait for the next write).
struct LockedHistory : StoredHistory {
    std::vector<Leftover> leftovers;
    bool moreLeftovers = false;
};

// What a rewrite puts in the history's place.
struct NewHistory {
    NewHistory(std::string bytes, std::size_t carried = 0) // NOLINT: a plain history converts
        : bytes(std::move(bytes))
        , carried(carried) {}
    std::string bytes;
    // How many of its last records are saves that no file on disk describes yet: should this
    // write be cut short, its leftover says so, and the next write gives back exactly those.
    std::size_t carried = 0;
    // The leftovers whose saves it took in: they now belong to the writer, and their files go
    // once a history holding them is in place.
    std::vector<std::string> taken;
};

// The step a write of the history is at, as the store begins each: what a write that does not come
// back has done so far. Each waits on the disk itself, but WaitingForLock only for as long as a
// flock call has not come back: the step begins again each time flock answers that another
// program holds the lock, so a flock that never returns (a network home gone) is the disk's
// silence like any other call.
enum class WritePhase {
    None,           // no write under way
    Reaching,       // the folder, the links, the lock file, the history read under the lock
    WaitingForLock, // another program holds the lock, or flock has not answered yet
    Making,         // the new file beside the history: nothing is written in it yet
    Writing,        // its contents
    Flushing,       // to the disk, then into the history's place: it holds every save it carries
    InPlace         // it is the history now; the disk has not confirmed the folder's flush
};

// Where the history file is kept. The file is only ever replaced whole, atomically, so a reader
// sees either the old contents or the new, never a mixture.
class HistoryStore {
public:
    // A real history is under 2 KB: a file larger than this is not one, and is not read into
    // memory. What the program writes stays within it, so that it is read back.
    static constexpr std::size_t LargestFile = 1024 * 1024;
    static constexpr char TooLarge[] = "it is too large to be a password history";

    HistoryStore() = default;
    virtual ~HistoryStore() = default;
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    // A name for the file that a person recognises, for messages.
    virtual std::string location() const = 0;

    virtual HistoryAtStart read() = 0;

    struct Outcome {
        std::string problem; // empty when the new contents are safely on disk
        // The file already holds the new contents, but `problem` says the disk did not confirm
        // them (the flush after the swap failed): a later write must not add them again.
        bool replaced = false;
    };

    // Under an exclusive lock that every copy of the program takes for this, waiting for it at
    // most `lockWait`: reads the file as it is now, passes it to `rewrite`, and replaces the
    // file with what `rewrite` returns (nothing is written when it returns no value). On a
    // failure before the swap, the previous file is left whole. Should the lock turn out to have
    // been taken from under the write (its file removed), the write starts again under the new
    // one, so `rewrite` may be called more than once.
    using Rewrite = std::function<std::optional<NewHistory>(const LockedHistory& now)>;
    virtual Outcome update(const Rewrite& rewrite, std::chrono::milliseconds lockWait) = 0;

    // The step the write under way is at, and since when: asked from any thread, and from a
    // signal handler (it only reads lock-free atomics).
    struct Progress {
        WritePhase phase = WritePhase::None;
        std::chrono::steady_clock::time_point since;
    };
    Progress progress() const noexcept {
        // The phase is read first and stored last, so a new phase is never seen with an old time.
        const WritePhase phase = phase_.load();
        return {phase, std::chrono::steady_clock::time_point(
                           std::chrono::steady_clock::duration(since_.load()))};
    }

protected:
    // Called by update() as each step begins, and with None as it returns.
    void beginStep(WritePhase phase) noexcept {
        since_ = std::chrono::steady_clock::now().time_since_epoch().count();
        phase_ = phase;
    }

private:
    std::atomic<WritePhase> phase_{WritePhase::None};
    std::atomic<std::chrono::steady_clock::rep> since_{0};
    static_assert(std::atomic<WritePhase>::is_always_lock_free &&
                  std::atomic<std::chrono::steady_clock::rep>::is_always_lock_free);
};

} // namespace platform
