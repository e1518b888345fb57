#pragma once

#include <mutex>

namespace history {

class HistoryFile;

// The last try for saves still pending when the program ends through exit() without closing
// its window, as Qt ends it when the X server goes away: the hook, registered once, writes
// them and says on standard error how many were written, or lost and why. It touches nothing
// but the history file. The newest instance watches its `file` while it lives; once it goes,
// the hook does nothing.
class WriteAtExit {
public:
    // `writing` is held by whoever writes `file` (a thread of its own, say): the hook takes it,
    // so that it waits for a write under way, and keeps it, so that no write follows its own
    // while the process ends.
    WriteAtExit(HistoryFile& file, std::mutex& writing);
    ~WriteAtExit();
    WriteAtExit(const WriteAtExit&) = delete;
    WriteAtExit& operator=(const WriteAtExit&) = delete;

private:
    HistoryFile& file_;
};

} // namespace history
