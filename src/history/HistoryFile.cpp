#include "history/HistoryFile.h"

#include "history/HistoryFormat.h"
#include "history/HistoryTable.h"

namespace history {

using State = platform::StoredHistory::State;

HistoryFile::HistoryFile(platform::HistoryStore& store)
    : store_(store) {}

HistoryFile::Loaded HistoryFile::read() {
    const platform::StoredHistory stored = store_.read();
    Loaded loaded;
    if (stored.state == State::Unreadable) {
        mayReplace_ = false;
        loaded.problem = "it could not be read (" + stored.problem + ")";
    } else {
        loaded.entries = parseHistory(stored.bytes);
    }
    return loaded;
}

std::string HistoryFile::save(const std::string& entry) {
    pending_.push_back(entry);
    if (pending_.size() > std::size_t(HistoryTable::Capacity)) {
        pending_.pop_front();
    }
    return write();
}

std::string HistoryFile::write() {
    if (!mayReplace_) {
        return "it could not be read at start, so it was left as it is";
    }
    std::string problem;
    const std::string storeProblem =
        store_.update([&](const platform::StoredHistory& now) -> std::optional<std::string> {
            if (now.state == State::Unreadable) {
                problem = "it can no longer be read (" + now.problem + ")";
                return std::nullopt;
            }
            HistoryTable merged;
            merged.load(parseHistory(now.bytes));
            for (const std::string& entry : pending_) {
                merged.save(entry);
            }
            return formatHistory(merged.entries());
        });
    if (!storeProblem.empty()) {
        return storeProblem;
    }
    if (problem.empty()) {
        pending_.clear();
    }
    return problem;
}

} // namespace history
