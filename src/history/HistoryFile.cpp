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
        platform::StoredHistory stored = store_.read();
        if (stored.state == State::Unreadable) {
            loaded.problem = "it could not be read (" + stored.problem + ")";
            refusal_ = "it could not be read at start, so it was left as it is";
        } else if (stored.state == State::Nowhere) {
            loaded.problem = refusal_ = stored.problem;
        } else {
            loaded.entries = parseHistory(stored.bytes);
            loaded.writeCutShort = stored.writeCutShort;
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

std::string HistoryFile::save(const std::string& entry) {
    const std::string problem = keep(entry);
    return problem.empty() ? write(SaveLockWait) : problem;
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

void HistoryFile::giveBack(const platform::CutShortWrite& cutShort,
                           platform::Replacement& replacement) {
    // Its last `carried` records are the saves it carried: only a file read whole, every byte a
    // record in the program's own format, says which those are.
    const std::vector<std::string> records =
        cutShort.problem.empty() ? completeRecords(cutShort.bytes) : std::vector<std::string>();
    if (cutShort.carried > 0 && (!cutShort.problem.empty() || cutShort.carried > records.size() ||
                                 formatHistory(records).size() != cutShort.bytes.size())) {
        notices_.push_back(cutShort.name + ", left by a write cut short, holds " +
                           std::to_string(cutShort.carried) +
                           " saved password(s) that could not be given back: " +
                           (cutShort.problem.empty() ? "it is torn, or not in the history's format"
                                                     : cutShort.problem) +
                           ". It was left as it is.");
        return;
    }
    const auto first = pending_.begin() + std::ptrdiff_t(alreadyInFile_ + givenBackPending_);
    pending_.insert(first, records.end() - std::ptrdiff_t(cutShort.carried), records.end());
    givenBack_.insert(givenBack_.end(), records.end() - std::ptrdiff_t(cutShort.carried),
                      records.end());
    givenBackPending_ += cutShort.carried;
    while (pending_.size() > std::size_t(HistoryTable::Capacity)) {
        dropOldestPending();
    }
    replacement.taken.push_back(cutShort.name);
}

std::optional<platform::Replacement> HistoryFile::rewrite(const platform::StoredHistory& now,
                                                          std::string& problem) {
    if (now.state == State::Unreadable) {
        problem = "it can no longer be read (" + now.problem + ")";
        return std::nullopt;
    }
    platform::Replacement replacement{std::string()};
    for (const platform::CutShortWrite& cutShort : now.cutShortWrites) {
        giveBack(cutShort, replacement);
    }
    HistoryTable merged;
    merged.load(parseHistory(now.bytes));
    for (std::size_t i = alreadyInFile_; i < pending_.size(); ++i) {
        merged.save(pending_[i]);
    }
    replacement.bytes = formatHistory(merged.entries(), platform::HistoryStore::LargestFile);
    replacement.carried = std::min(pending_.size() - alreadyInFile_ - givenBackPending_,
                                   recordsIn(replacement.bytes));
    return replacement;
}

std::string HistoryFile::write(std::chrono::milliseconds lockWait) {
    if (!refusal_.empty()) {
        return refusal_;
    }
    // Writes cut short are taken a few at a time, oldest first: one write after another until
    // none is left, each bounded in memory.
    bool more = true;
    for (int writes = 0; more && writes < 1000; ++writes) {
        std::string problem;
        const auto rewriteNow = [&](const platform::StoredHistory& now) {
            more = now.moreCutShort;
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
