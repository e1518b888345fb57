#pragma once

#include "platform/RealFile.h"

#include <cstddef>
#include <string>
#include <vector>

namespace platform {

// A write of the history puts the new contents in a file of its own beside it,
// NAME.tavik-unfinished-XXXXXX, which then takes the history's place. One found while the
// history's lock is held was left by a write cut short (kill -9, a crash, a power cut): it holds
// the whole new history, the saves that write carried included.
struct UnfinishedWrite {
    std::string name;  // in the history's folder
    std::string bytes; // as much as was written, at most the limit asked for
};

// The template for mkostemp(3) of a new write's file.
std::string unfinishedWriteTemplate(const RealFile& file);

// The program's own unfinished writes beside `file`, oldest first, each read up to `largest`
// bytes (a few at most: the rest wait for the next write). A file is the program's own only
// when it has the name above, is a plain file with one link, and belongs to whom the program's
// own new file there would belong to; anything else, another user's or another program's, is
// never read, never removed.
std::vector<UnfinishedWrite> findUnfinishedWrites(const RealFile& file, std::size_t largest);

// Removes them, once what they held is safely in the history.
void removeUnfinishedWrites(const RealFile& file, const std::vector<UnfinishedWrite>& writes);

} // namespace platform
