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
//
// A write that takes in the saves of leftovers renames each, before its own file takes the
// history's place, to NAME.tavik-taken-M-YYYYYY-N-XXXXXX: taken by the new file
// NAME.tavik-unfinished-M-YYYYYY. Each save is then described by exactly one file at every
// instant: while that new file is still there, the taken leftover is still a leftover; once the
// new file is gone (it became the history), the taken leftover describes nothing and goes. Removing
// taken leftovers after the rename instead would leave an instant, between the two calls, in
// which both the history and the leftover hold the same saves, and a kill there doubles them.
using FileId = std::pair<dev_t, ino_t>;

// A leftover that this run holds locked, so that no other write takes it meanwhile.
struct HeldLeftover {
    std::string name; // in the history's folder, as it is called now
    std::string own;  // its own "N-XXXXXX", which a leftover's name ends with
    FileId id{};
    Descriptor fd; // open, with the flock held
};

// The template for mkostemp(3) of a new write's file that carries `carried` saves.
std::string leftoverTemplate(const RealFile& file, std::size_t carried);

// The "N-XXXXXX" that ends a name (or a path) that leftoverTemplate made.
std::string ownPart(const std::string& name);

// Whether any of the program's own leftovers, that no live write holds, is beside `file`.
bool anyLeftovers(const RealFile& file);

struct FoundLeftovers {
    std::vector<Leftover> leftovers; // what each holds, oldest first
    std::vector<HeldLeftover> held;  // the same ones, in the same order; locked when readable
    bool more = false;               // older ones than these are all taken; newer ones wait
};

// The program's own leftovers beside `file` that no write holds, oldest first, a few at most (the
// rest wait for the next write), each locked and read if it is at most `largest` bytes. One that
// cannot be opened or read whole, or of an earlier build's form, is found with its problem, to be
// told; an empty one, or a taken one whose new file is gone, carries nothing and is removed. Those
// in `skip` are passed over. A file is the program's own only when it has a name above, is a plain
// file with one link, and belongs to whom the program's own new file there would belong to;
// anything else, another user's or another program's, is never read, never removed.
FoundLeftovers findLeftovers(const RealFile& file, std::size_t largest,
                             const std::set<FileId>& skip);

// Renames each of `held` to say that the new file `newFile` (a name made by leftoverTemplate)
// takes its saves in. Returns why one could not be renamed, after putting back those it did.
std::string markTaken(const RealFile& file, std::vector<HeldLeftover>& held,
                      const std::string& newFile);
// Puts their leftover names back; false when one could not be put back.
bool unmarkTaken(const RealFile& file, std::vector<HeldLeftover>& held);

// Removes them, once what they held is in the history. Those that cannot be removed describe
// nothing any more (their new file is the history): the next start removes them.
void removeLeftovers(const RealFile& file, std::vector<HeldLeftover>& held);

} // namespace platform
