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

std::string HistoryFile::write(const std::vector<std::string>& savedThisRun) {
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
            for (const std::string& entry : savedThisRun) {
                merged.save(entry);
            }
            return formatHistory(merged.entries());
        });
    return storeProblem.empty() ? problem : storeProblem;
}

} // namespace history
