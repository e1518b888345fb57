#include "history/HistoryFile.h"

#include "history/HistoryFormat.h"
#include "history/HistoryTable.h"

#include <algorithm>
#include <new>

namespace history {

using State = platform::StoredHistory::State;

namespace {

constexpr char OutOfMemory[] = "there was not enough memory";

// The number of records in a history that formatHistory wrote: one line end each.
std::size_t recordsIn(const std::string& bytes) {
    return std::size_t(std::count(bytes.begin(), bytes.end(), '\n'));
}

} // namespace

HistoryFile::HistoryFile(platform::HistoryStore& store)
    : store_(store) {}

HistoryFile::Loaded HistoryFile::read() {
    Loaded loaded;
    try {
        platform::HistoryAtStart stored = store_.read();
        if (stored.state == State::Unreadable) {
            loaded.problem = "it could not be read (" + stored.problem + ")";
            refusal_ = "it could not be read at start, so it was left as it is";
        } else if (stored.state == State::Nowhere) {
            loaded.problem = refusal_ = stored.problem;
        } else {
            loaded.entries = parseHistory(stored.bytes);
            loaded.leftoversBeside = stored.leftoversBeside;
        }
    } catch (const std::bad_alloc&) {
        loaded = Loaded{{}, std::string("it could not be read (") + OutOfMemory + ")"};
        refusal_ = "it could not be read at start, so it was left as it is";
    }
    return loaded;
}

std::string HistoryFile::keep(const std::string& entry) {
    try {
        pending_.push_back(entry);
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
    if (pending_.size() > std::size_t(HistoryTable::Capacity)) {
        dropOldestPending();
    }
    return {};
}

void HistoryFile::dropOldestPending() {
    pending_.pop_front();
    if (alreadyInFile_ > 0) {
        --alreadyInFile_;
    } else if (givenBackPending_ > 0) {
        --givenBackPending_;
    }
}

std::string HistoryFile::unsavedSummary() const {
    // Saves given back stay described by the files that carried them until they are written.
    if (const std::size_t lost = pending_.size() - alreadyInFile_ - givenBackPending_; lost > 0) {
        return "Saved passwords lost: " + std::to_string(lost) + ".";
    }
    if (!pending_.empty()) {
        return "Saved passwords in it that the disk did not confirm: " +
               std::to_string(pending_.size()) + ".";
    }
    return {};
}

void HistoryFile::giveBack(const platform::Leftover& leftover, platform::NewHistory& newHistory) {
    // Its last `carried` records are the saves it carried: only a file read whole, every byte a
    // record in the program's own format, says which those are.
    const std::vector<std::string> records =
        leftover.problem.empty() ? completeRecords(leftover.bytes) : std::vector<std::string>();
    if (leftover.carried > 0 && (!leftover.problem.empty() || leftover.carried > records.size() ||
                                 formatHistory(records).size() != leftover.bytes.size())) {
        notices_.push_back(leftover.name + ", left by a write cut short, holds " +
                           std::to_string(leftover.carried) +
                           " saved password(s) that could not be given back: " +
                           (leftover.problem.empty() ? "it is torn, or not in the history's format"
                                                     : leftover.problem) +
                           ". It was left as it is.");
        return;
    }
    const auto first = pending_.begin() + std::ptrdiff_t(alreadyInFile_ + givenBackPending_);
    pending_.insert(first, records.end() - std::ptrdiff_t(leftover.carried), records.end());
    givenBack_.insert(givenBack_.end(), records.end() - std::ptrdiff_t(leftover.carried),
                      records.end());
    givenBackPending_ += leftover.carried;
    while (pending_.size() > std::size_t(HistoryTable::Capacity)) {
        dropOldestPending();
    }
    newHistory.taken.push_back(leftover.name);
}

std::optional<platform::NewHistory> HistoryFile::rewrite(const platform::LockedHistory& now,
                                                         std::string& problem) {
    if (now.state == State::Unreadable) {
        problem = "it can no longer be read (" + now.problem + ")";
        return std::nullopt;
    }
    platform::NewHistory newHistory{std::string()};
    for (const platform::Leftover& leftover : now.leftovers) {
        giveBack(leftover, newHistory);
    }
    HistoryTable merged;
    merged.load(parseHistory(now.bytes));
    for (std::size_t i = alreadyInFile_; i < pending_.size(); ++i) {
        merged.save(pending_[i]);
    }
    newHistory.bytes = formatHistory(merged.entries(), platform::HistoryStore::LargestFile);
    newHistory.carried =
        std::min(pending_.size() - alreadyInFile_ - givenBackPending_, recordsIn(newHistory.bytes));
    return newHistory;
}

std::string HistoryFile::write(std::chrono::milliseconds lockWait) {
    if (!refusal_.empty()) {
        return refusal_;
    }
    // Leftovers are taken a few at a time, oldest first: one write after another until none is
    // left, each bounded in memory.
    bool more = true;
    for (int writes = 0; more && writes < 1000; ++writes) {
        std::string problem;
        const auto rewriteNow = [&](const platform::LockedHistory& now) {
            more = now.moreLeftovers;
            return rewrite(now, problem);
        };
        unconfirmed_ = false;
        try {
            const platform::HistoryStore::Outcome outcome = store_.update(rewriteNow, lockWait);
            if (outcome.replaced) {
                givenBackPending_ = 0; // their files are gone: the history holds them
            }
            if (!outcome.problem.empty()) {
                unconfirmed_ = outcome.replaced;
                if (outcome.replaced) {
                    alreadyInFile_ = pending_.size();
                }
                return outcome.problem;
            }
        } catch (const std::bad_alloc&) {
            return OutOfMemory;
        }
        if (!problem.empty()) {
            return problem;
        }
        pending_.clear();
        alreadyInFile_ = givenBackPending_ = 0;
    }
    return {};
}

} // namespace history
