#pragma once

#include "history/SaveLedger.h"
#include "platform/HistoryStore.h"

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace history {

// The reason told when a read, a write or a save could not be kept for want of memory.
inline constexpr char OutOfMemory[] = "there was not enough memory";

// Reads the saved passwords at start and writes each save to disk at once, so that nothing saved
// is lost: not when the program dies without closing, not to a second copy of the program, not
// to a file that could not be read. Running out of memory is a failed read or write, never an
// abort.
class HistoryFile {
public:
    // How long a write waits for another program to let go of the file: a Save briefly, so
    // that the window never seems to hang; a retry in the background more briefly still; the
    // close as long as a Save when it has nothing to lose, and longer when saves would be lost.
    static constexpr std::chrono::milliseconds SaveLockWait{1000};
    static constexpr std::chrono::milliseconds RetryLockWait{100};
    static constexpr std::chrono::milliseconds CloseLockWait{10000};

    explicit HistoryFile(platform::HistoryStore& store);

    struct Loaded {
        std::vector<std::string> entries; // oldest first, at most 101
        std::string problem;              // why an existing file could not be read, if it could not
        bool leftoversBeside = false; // writes cut short left saves: the next write gives them back
    };

    // The entries in the file: none when there is no file yet. A file that exists but cannot be
    // read gives none too, and is then never replaced by write(). Reads only: the leftover of a
    // write cut short (kill -9, a crash) is taken by the next write, which gives back its saves.
    Loaded read();

    // Records `entry` as saved in this run, to be written by the next write. Returns why it
    // could not be kept (no memory), if it could not.
    std::string keep(const std::string& entry);

    // Rewrites the file, under the lock, as the entries now on disk followed by the saves not yet
    // written, keeping the newest 101. The saves that leftovers carried come first, oldest
    // leftover first, exactly those: they become this run's own, kept until written. When no other
    // copy changed the file meanwhile, that is exactly the table as it stands. The close calls this
    // even when nothing is pending, so that the file is always left in the program's own format.
    // Returns an empty string on success, or a sentence saying why the file was not written.
    std::string write(std::chrono::milliseconds lockWait = CloseLockWait);

    // False when the file could not be read at start, or there is no place for it: then it is
    // never written.
    bool mayWrite() const { return refusal_.empty(); }

    // True when the last write put the file in place, so that it holds every save of this run,
    // but the disk did not confirm it (the flush after the swap failed).
    bool unconfirmed() const { return unconfirmed_; }

    // Where each save of this run that is not safely on disk stands.
    const SaveLedger& ledger() const { return ledger_; }

    std::string location() const { return store_.location(); }
    // The step the write under way is at: asked from any thread.
    platform::HistoryStore::Progress progress() const { return store_.progress(); }

    // The saves that leftovers carried, given back by the writes since the last call, oldest
    // first, and how many of this run's own saves the history has after them.
    struct GivenBack {
        std::vector<std::string> saves;
        std::size_t ownSavesAfter = 0;
    };
    GivenBack takeGivenBack() { return std::exchange(givenBack_, {}); }
    // What a person must hear once of leftovers whose saves could not be given back.
    std::vector<std::string> takeNotices() { return std::exchange(notices_, {}); }

private:
    std::optional<platform::NewHistory> rewrite(const platform::LockedHistory& now,
                                                std::string& problem);
    void giveBack(const platform::Leftover& leftover, platform::NewHistory& newHistory);

    platform::HistoryStore& store_;
    SaveLedger ledger_;
    GivenBack givenBack_;
    std::vector<std::string> notices_;
    bool unconfirmed_ = false;
    std::string refusal_; // why the file is never written in this run, if it is not
};

} // namespace history
