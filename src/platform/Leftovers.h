#pragma once

#include "platform/Descriptor.h"
#include "platform/HistoryStore.h"
#include "platform/RealFile.h"

#include <cstddef>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace platform {

// A write of the history puts the new contents in a file of its own beside it,
// NAME.tavik-unfinished-N-XXXXXX, which then takes the history's place; a write cut short leaves
// it behind: a leftover. N is how many of its last records are saves that the write carried and
// that no other file describes: its content must be exactly the new history, so the name is the
// one place that can say which records are new, and it is fixed when the file is made. A write
// holds a flock on its file while it works on it, so a file that can be locked is a leftover,
// never a write still under way, whoever holds the history's lock.
using FileId = std::pair<dev_t, ino_t>;

// A leftover that this run holds locked, so that no other write takes it meanwhile.
struct HeldLeftover {
    std::string name; // in the history's folder
    FileId id{};
    Descriptor fd; // open, with the flock held
};

// The template for mkostemp(3) of a new write's file that carries `carried` saves.
std::string leftoverTemplate(const RealFile& file, std::size_t carried);

// Whether any of the program's own leftovers is beside `file`: only looked for.
bool anyLeftovers(const RealFile& file);

struct FoundLeftovers {
    std::vector<Leftover> leftovers; // what each holds, oldest first
    std::vector<HeldLeftover> held;  // the same ones, in the same order, locked
    bool more = false;               // older ones than these are all taken; newer ones wait
};

// The program's own leftovers beside `file` that no write holds, oldest first, a few at most (the
// rest wait for the next write), each locked and read if it is at most `largest` bytes. Those in
// `skip` are passed over. A file is the program's own only when it has the name above, is a plain
// file with one link, and belongs to whom the program's own new file there would belong to;
// anything else, another user's or another program's, is never read, never removed.
FoundLeftovers findLeftovers(const RealFile& file, std::size_t largest,
                             const std::set<FileId>& skip);

// Removes them, once what they held is in the history. Returns those that could not be removed
// (a read-only disk), still locked, so that they never come back to this run.
std::vector<HeldLeftover> removeLeftovers(const RealFile& file, std::vector<HeldLeftover> held);

} // namespace platform
