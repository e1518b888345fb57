#pragma once

#include "platform/HistoryStore.h"
#include "platform/RealFile.h"

#include <string>

namespace platform {

// Replaces `file` with `bytes`: writes them to a new file beside it (an unfinished write, until
// it takes the file's place), private to its owner and owned as the old one was, flushes it to
// disk, renames it over the old one and flushes the folder, checking every step. A failure
// before the rename leaves the old file whole; a failure after it says that the file was
// replaced. Call it under the history's lock.
// Deliberately not QSaveFile: Qt 6.4's commit() does not report a failed final flush, it never
// flushes the folder, and this also runs from the exit hook, where as little of Qt as possible
// should be involved.
HistoryStore::Outcome replaceFile(const RealFile& file, const std::string& bytes);

} // namespace platform
