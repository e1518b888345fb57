#pragma once

#include "platform/HistoryStore.h"

#include <deque>
#include <string>
#include <vector>

namespace history {

// Reads the saved passwords at start and writes each save to disk at once, so that nothing saved
// is lost: not when the program dies without closing, not to a second copy of the program, not
// to a file that could not be read.
class HistoryFile {
public:
    explicit HistoryFile(platform::HistoryStore& store);

    struct Loaded {
        std::vector<std::string> entries; // oldest first, at most 101
        std::string problem;              // why an existing file could not be read, if it could not
    };

    // The entries in the file: none when there is no file yet. A file that exists but cannot be
    // read gives none too, and is then never replaced by write().
    Loaded read();

    // Records `entry` as saved in this run and writes it at once, together with any earlier save
    // whose write failed. A save that cannot be written stays pending for the next write.
    // Returns what write() returns.
    std::string save(const std::string& entry);

    // Rewrites the file, under the lock, as the entries now on disk followed by the saves not yet
    // written, keeping the newest 101. When no other copy changed the file meanwhile, that is
    // exactly the table as it stands. The close calls this even when nothing is pending, so that
    // the file is always left in the program's own format. Returns an empty string on success,
    // or a sentence saying why the file was not written.
    std::string write();

    // False when the file could not be read at start: then it is never written.
    bool mayWrite() const { return mayReplace_; }

    // How many saves of this run are not on disk yet.
    std::size_t pending() const { return pending_.size(); }

    std::string location() const { return store_.location(); }

private:
    platform::HistoryStore& store_;
    std::deque<std::string> pending_; // oldest first, at most 101: older ones would be dropped
    bool mayReplace_ = true;
};

} // namespace history
