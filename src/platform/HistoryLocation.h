#pragma once

#include <string>

namespace platform {

// Where the history file is kept, as the bytes the system gives: a folder whose name is not
// UTF-8 (a Latin-1 one, say) is as good as any other.
struct HistoryLocation {
    std::string path;    // empty when there is no place for it
    std::string problem; // why there is none
};

// The per-user location: $XDG_DATA_HOME/tavik/passwords.txt, by default
// ~/.local/share/tavik/passwords.txt. None when the user has no home folder.
HistoryLocation defaultHistoryLocation();

} // namespace platform
