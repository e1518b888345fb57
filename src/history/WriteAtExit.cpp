#include "history/WriteAtExit.h"

#include "history/HistoryFile.h"

#include <cstdio>
#include <cstdlib>

namespace history {

namespace {

HistoryFile* watched = nullptr;
std::mutex* watchedWriting = nullptr;

void writePendingSaves() {
    if (!watched) {
        return;
    }
    watchedWriting->lock(); // never unlocked: the process is ending
    if (watched->pending() == 0) {
        return;
    }
    const std::size_t count = watched->pending();
    const std::string problem = watched->write();
    if (problem.empty()) {
        std::fprintf(stderr,
                     "tavik: at exit, %zu saved password(s) kept in memory were written to %s.\n",
                     count, watched->location().c_str());
    } else {
        std::fprintf(stderr,
                     "tavik: at exit, the saved passwords kept in memory could not be written to "
                     "%s: %s. %s\n",
                     watched->location().c_str(), problem.c_str(),
                     watched->unsavedSummary().c_str());
    }
}

} // namespace

WriteAtExit::WriteAtExit(HistoryFile& file, std::mutex& writing)
    : file_(file) {
    // Registered once the program is under way, so that it runs before the exit handlers of
    // what started earlier, the C++ runtime and Qt's own among them.
    static const bool registered = std::atexit(&writePendingSaves) == 0;
    (void)registered;
    watched = &file;
    watchedWriting = &writing;
}

WriteAtExit::~WriteAtExit() {
    // A newer one (the next window) may watch its own file by now.
    if (watched == &file_) {
        watched = nullptr;
    }
}

} // namespace history
