#pragma once

#include <sys/stat.h>
#include <unistd.h>

namespace platform {

// Run as root on another user's files (sudo keeping HOME, say), what the program has just made
// through `fd` is given to the owner and group of `model` (the file it replaces, or the folder
// it is made in), so that the user's own next run can still open it. Only ever called on a
// descriptor of what the program itself created, never on a file it found: that would let
// anyone who can put a link in the folder have root give them a file. An ordinary user cannot
// give a file away and need not: what they make is theirs, in the folder's group where it is
// setgid.
inline bool giveToOwnerOf(int fd, const struct stat& model) {
    struct stat own {};
    return ::geteuid() != 0 ||
           (::fstat(fd, &own) == 0 && own.st_uid == model.st_uid && own.st_gid == model.st_gid) ||
           ::fchown(fd, model.st_uid, model.st_gid) == 0;
}

} // namespace platform
