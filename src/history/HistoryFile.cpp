#include "history/HistoryFile.h"

#include "history/HistoryFormat.h"
#include "history/HistoryTable.h"

#include <algorithm>
#include <iterator>
#include <new>

namespace history {

using State = platform::StoredHistory::State;

namespace {

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
        ledger_.add(entry);
    } catch (const std::bad_alloc&) {
        return OutOfMemory;
    }
    return {};
}

void HistoryFile::giveBack(const platform::Leftover& leftover, platform::NewHistory& newHistory) {
    // Its last `carried` records are the saves it carried: only a file read whole, every byte a
    // record in the program's own format, says which those are.
    const std::vector<std::string> records = completeRecords(leftover.bytes);
    if (!leftover.problem.empty() ||
        (leftover.carried > 0 && (leftover.carried > records.size() ||
                                  formatHistory(records).size() != leftover.bytes.size()))) {
        const std::string holds = leftover.carried > 0
                                      ? savedPasswords(leftover.carried)
                                      : std::to_string(records.size()) + " password(s)";
        notices_.push_back(leftover.path + ", left by a write cut short, holds " + holds +
                           " that could not be given back: " +
                           (leftover.problem.empty()
                                ? "it is torn, or not in the history's format: copy what "
                                  "you need into the history, then remove it"
                                : leftover.problem) +
                           ".");
        return;
    }
    // An empty record is not a save.
    std::vector<std::string> saves;
    std::copy_if(records.end() - std::ptrdiff_t(leftover.carried), records.end(),
                 std::back_inserter(saves), [](const std::string& save) { return !save.empty(); });
    if (!saves.empty()) {
        ledger_.giveBack(saves);
        givenBack_.saves.insert(givenBack_.saves.end(), saves.begin(), saves.end());
        givenBack_.ownSavesAfter = ledger_.counts().inMemory;
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
    for (const std::string& entry : ledger_.toWrite()) {
        merged.save(entry);
    }
    newHistory.bytes = formatHistory(merged.entries(), platform::HistoryStore::LargestFile);
    newHistory.carried = std::min(ledger_.counts().inMemory, recordsIn(newHistory.bytes));
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
            if (!outcome.problem.empty()) {
                unconfirmed_ = outcome.replaced;
                if (outcome.replaced) {
                    ledger_.inPlaceUnconfirmed(); // the leftovers' files are gone
                }
                return outcome.problem;
            }
        } catch (const std::bad_alloc&) {
            return OutOfMemory;
        }
        if (!problem.empty()) {
            return problem;
        }
        ledger_.clear();
    }
    return {};
}

} // namespace history
