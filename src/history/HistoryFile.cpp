#include "history/HistoryFile.h"

#include "history/HistoryFormat.h"
#include "history/HistoryTable.h"

#include <algorithm>
#include <new>

namespace history {

using State = platform::StoredHistory::State;

namespace {

constexpr char OutOfMemory[] = "there was not enough memory";

// The saves that a write cut short was carrying: the complete records of what it left that are
// newer than its newest record also in the history. None are when it got no further than what
// the history already holds.
std::vector<std::string> savesCarriedBy(const std::string& cutShort,
                                        const std::vector<std::string>& history) {
    std::vector<std::string> records = completeRecords(cutShort);
    const auto newestKnown = std::find_if(records.rbegin(), records.rend(), [&](const auto& r) {
        return std::find(history.begin(), history.end(), r) != history.end();
    });
    records.erase(records.begin(), newestKnown.base());
    return records;
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
            loaded.entries = parseHistory(finishWritesCutShort(stored).bytes);
        }
    } catch (const std::bad_alloc&) {
        loaded = Loaded{{}, std::string("it could not be read (") + OutOfMemory + ")"};
        refusal_ = "it could not be read at start, so it was left as it is";
    }
    return loaded;
}

const platform::StoredHistory& HistoryFile::finishWritesCutShort(platform::StoredHistory& stored) {
    // The saves that a killed write carried come back at the next start: written now, so that
    // the list shows them.
    if (stored.writeCutShort && write(SaveLockWait).empty()) {
        stored = store_.read();
    }
    return stored;
}

std::string HistoryFile::keep(const std::string& entry) {
    try {
        pending_.push_back(entry);
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
    if (pending_.size() > std::size_t(HistoryTable::Capacity)) {
        pending_.pop_front();
        if (alreadyInFile_ > 0) {
            --alreadyInFile_;
        }
    }
    return {};
}

std::string HistoryFile::save(const std::string& entry) {
    const std::string problem = keep(entry);
    return problem.empty() ? write(SaveLockWait) : problem;
}

std::string HistoryFile::unsavedSummary() const {
    if (const std::size_t lost = pending_.size() - alreadyInFile_; lost > 0) {
        return "Saved passwords lost: " + std::to_string(lost) + ".";
    }
    if (!pending_.empty()) {
        return "Saved passwords in it that the disk did not confirm: " +
               std::to_string(pending_.size()) + ".";
    }
    return {};
}

std::string HistoryFile::write(std::chrono::milliseconds lockWait) {
    if (!refusal_.empty()) {
        return refusal_;
    }
    std::string problem;
    const auto rewrite = [&](const platform::StoredHistory& now) -> std::optional<std::string> {
        underLock_ = true;
        if (now.state == State::Unreadable) {
            problem = "it can no longer be read (" + now.problem + ")";
            return std::nullopt;
        }
        HistoryTable merged;
        merged.load(parseHistory(now.bytes));
        for (const std::string& cutShort : now.cutShortWrites) {
            for (const std::string& entry : savesCarriedBy(cutShort, merged.entries())) {
                merged.save(entry);
            }
        }
        for (std::size_t i = alreadyInFile_; i < pending_.size(); ++i) {
            merged.save(pending_[i]);
        }
        return formatHistory(merged.entries(), platform::HistoryStore::LargestFile);
    };
    unconfirmed_ = false;
    struct LockLeft {
        std::atomic<bool>& underLock;
        ~LockLeft() { underLock = false; }
    } lockLeft{underLock_};
    try {
        const platform::HistoryStore::Outcome outcome = store_.update(rewrite, lockWait);
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
    if (problem.empty()) {
        pending_.clear();
        alreadyInFile_ = 0;
    }
    return problem;
}

} // namespace history
