#pragma once

#include "platform/Descriptor.h"
#include "platform/RealFile.h"

#include <cstddef>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace platform {

// A write of the history puts the new contents in a file of its own beside it,
// NAME.tavik-unfinished-N-XXXXXX, which then takes the history's place. N is how many of its last
// records are saves that the write carried and that no other file describes: its content must be
// exactly the new history, so the name is the one place that can say which records are new, and
// it is fixed when the file is made. A write holds a flock on its file while it works on it, so
// a file that can be locked was left by a write cut short (kill -9, a crash, a power cut), never
// by one still under way, whoever holds the history's lock.
struct UnfinishedWrite {
    std::string name; // in the history's folder
    std::pair<dev_t, ino_t> id{};
    Descriptor fd;           // open, with the flock held: no other write takes it meanwhile
    std::size_t carried = 0; // from its name
    std::string bytes;       // all of it, when `problem` is empty
    std::string problem;     // why it could not be read whole
};

// The template for mkostemp(3) of a new write's file that carries `carried` saves.
std::string unfinishedWriteTemplate(const RealFile& file, std::size_t carried);

// Whether any of the program's own unfinished writes is beside `file`: only looked for.
bool anyUnfinishedWrites(const RealFile& file);

struct FoundWrites {
    std::vector<UnfinishedWrite> writes; // oldest first
    bool more = false;                   // older ones than these are all taken; newer ones wait
};

// The program's own unfinished writes beside `file` that no write holds, oldest first, a few at
// most (the rest wait for the next write), each locked and read if it is at most `largest`
// bytes. Those in `skip` are passed over. A file is the program's own only when it has the name
// above, is a plain file with one link, and belongs to whom the program's own new file there
// would belong to; anything else, another user's or another program's, is never read, never
// removed.
FoundWrites findUnfinishedWrites(const RealFile& file, std::size_t largest,
                                 const std::set<std::pair<dev_t, ino_t>>& skip);

// Removes them, once what they held is in the history. Returns those that could not be removed
// (a read-only disk), still locked, so that they never come back to this run.
std::vector<UnfinishedWrite> removeUnfinishedWrites(const RealFile& file,
                                                    std::vector<UnfinishedWrite> writes);

} // namespace platform
