#include "history/WriteAtExit.h"

#include "history/HistoryWriter.h"

#include <cstdio>
#include <cstdlib>

namespace history {

namespace {

HistoryWriter* watched = nullptr;

void finishTheWrites() {
    if (!watched) {
        return;
    }
    const HistoryWriter::Ending ending = watched->finish(WriteAtExit::LongestWait);
    if (!ending.account.empty()) {
        std::fprintf(stderr, "tavik: at exit, %s\n", ending.account.c_str());
    }
}

} // namespace

WriteAtExit::WriteAtExit(HistoryWriter& writer)
    : writer_(writer) {
    // Registered once the program is under way, so that it runs before the exit handlers of
    // what started earlier, the C++ runtime and Qt's own among them.
    static const bool registered = std::atexit(&finishTheWrites) == 0;
    (void)registered;
    watched = &writer;
}

WriteAtExit::~WriteAtExit() {
    // A newer one (the next window) may watch its own writer by now.
    if (watched == &writer_) {
        watched = nullptr;
    }
}

} // namespace history
