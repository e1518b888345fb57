#include "history/HistoryTable.h"

#include <algorithm>

namespace history {

void HistoryTable::clear() {
    std::fill(History.begin(), History.end(), std::string());
    HistoryCount = 0;
}

void HistoryTable::load(const std::vector<std::string>& entries) {
    clear();
    const std::size_t skipped =
        entries.size() > std::size_t(Capacity) ? entries.size() - Capacity : 0;
    for (std::size_t i = skipped; i < entries.size(); ++i) {
        History[HistoryCount++] = entries[i];
    }
}

bool HistoryTable::save(const std::string& password) {
    if (password.empty()) {
        return false;
    }
    if (HistoryCount == Capacity) {
        // Drop the oldest entry; every other one moves down a slot.
        std::move(History.begin() + 1, History.end(), History.begin());
        --HistoryCount;
    }
    History[HistoryCount++] = password;
    return true;
}

std::vector<std::string> HistoryTable::entries() const {
    return {History.begin(), History.begin() + HistoryCount};
}

std::vector<std::string> HistoryTable::newest(int howMany) const {
    std::vector<std::string> entries;
    for (int slot = HistoryCount; slot >= 1 && slot > HistoryCount - howMany; --slot) {
        entries.push_back(History[slot - 1]);
    }
    return entries;
}

} // namespace history
