#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace history {

// The saved passwords, oldest first, at most Capacity of them. Entries are raw bytes: a value
// read from the history file is kept, and written back, byte for byte.
class HistoryTable {
public:
    static constexpr std::int16_t Capacity = 101;

    // Forgets every entry.
    void clear();

    // Replaces the entries with `entries` (oldest first), as read from the history file. Only
    // the newest Capacity are kept.
    void load(const std::vector<std::string>& entries);

    // Adds `password` as the newest entry, dropping the oldest when the table is full. An empty
    // password (nothing generated yet) is not saved: returns false and nothing changes.
    bool save(const std::string& password);

    std::int16_t count() const { return HistoryCount; }

    // The entry in `slot`, 1 (the oldest) to count() (the newest).
    const std::string& slot(std::int16_t slot) const { return History[slot - 1]; }

    // Every entry, oldest first.
    std::vector<std::string> entries() const;

    // Up to `howMany` entries, newest first.
    std::vector<std::string> newest(int howMany) const;

private:
    std::array<std::string, Capacity> History;
    std::int16_t HistoryCount = 0;
};

} // namespace history
