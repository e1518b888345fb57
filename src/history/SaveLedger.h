#pragma once

#include "platform/HistoryStore.h"

#include <atomic>
#include <cstddef>
#include <deque>
#include <string>
#include <vector>

namespace history {

// This run's saves that are not safely on disk yet, oldest first, each with where it stands: the
// one count that every sentence about saves (in the window, in a box, on standard error, in the
// exit status) is made from. At most 101: an older one would be dropped from any history.
// Changed only by the thread that writes; its counts may be read from any thread, and from a
// signal handler (lock-free atomics).
class SaveLedger {
public:
    enum class Where {
        InFile,     // in the file, but the disk did not confirm it
        BesideFile, // given back: a leftover beside the file still describes it
        InMemory,   // only in this program's memory: lost should it end now
    };
    struct Counts {
        std::size_t inFile = 0;
        std::size_t besideFile = 0;
        std::size_t inMemory = 0;
        std::size_t total() const { return inFile + besideFile + inMemory; }
        // Neither confirmed on disk nor still described by a leftover: these are at stake.
        std::size_t atRisk() const { return inFile + inMemory; }
    };

    // A save of this run, only in memory.
    void add(const std::string& entry);
    // Saves that leftovers carried, oldest first: they go after those in the file and before
    // those only in memory, where the next history has them.
    void giveBack(const std::vector<std::string>& saves);
    // A history holding every save is in place, but the disk did not confirm it.
    void inPlaceUnconfirmed();
    // Every save is safely on disk.
    void clear();

    // The saves a new history must add to the file as it is (those not in it already), oldest
    // first: those only in memory are the newest.
    std::vector<std::string> toWrite() const;
    Counts counts() const { return {inFile_.load(), besideFile_.load(), inMemory_.load()}; }

private:
    struct Save {
        std::string entry;
        Where where;
    };
    void recount();

    std::deque<Save> saves_; // in the order of the history: InFile, then BesideFile, then InMemory
    std::atomic<std::size_t> inFile_{0}, besideFile_{0}, inMemory_{0};
    static_assert(std::atomic<std::size_t>::is_always_lock_free);
};

// "N saved password(s)", as every sentence about saves counts them.
std::string savedPasswords(std::size_t count);

// Where the saves counted stand, as sentences for a person, for the history file named `file`;
// empty when there are none. `phase` is the step the write under way is at: the saves it carries
// from memory are beside the file once its new file is whole (Flushing), and every save is in the
// file once that new file is in place. `ending`: the program is ending now, rather than may.
std::string whereSavesStand(const SaveLedger::Counts& saves, const std::string& file,
                            platform::WritePhase phase, bool ending);

} // namespace history
