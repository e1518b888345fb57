#pragma once

#include "platform/HistoryStore.h"

#include <string>
#include <vector>

namespace history {

// Reads the saved passwords at start and writes them back at close, so that nothing saved is
// lost: not to a second copy of the program, not to a file that could not be read.
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

    // Rewrites the file, under the lock, as the entries now on disk followed by `savedThisRun`,
    // keeping the newest 101. When no other copy changed the file meanwhile, that is exactly
    // the table as it stands. Returns an empty string on success, or a sentence saying why the
    // file was not written.
    std::string write(const std::vector<std::string>& savedThisRun);

    std::string location() const { return store_.location(); }

private:
    platform::HistoryStore& store_;
    bool mayReplace_ = true;
};

} // namespace history
