#pragma once

#include "history/HistoryFile.h"

#include <string>

// What a Save does, without the writer's thread: keeps `entry` and writes at once, with a Save's
// wait for the lock. Returns why it was not written, if it was not.
inline std::string saveNow(history::HistoryFile& file, const std::string& entry) {
    const std::string problem = file.keep(entry);
    return problem.empty() ? file.write(history::HistoryFile::SaveLockWait) : problem;
}
