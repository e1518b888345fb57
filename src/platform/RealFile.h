#pragma once

#include <string>

namespace platform {

// The file that the history's path finally names, every symbolic link on the way followed: the
// file that is read, locked beside and replaced, while a link to it stays a link.
struct RealFile {
    std::string folder;  // the folder it is in, with no link left in its name
    std::string name;    // its name in that folder
    std::string problem; // why it cannot be reached; `folder` and `name` are then empty

    std::string path() const { return (folder == "/" ? "" : folder) + "/" + name; }
};

// Makes sure that the program's own folder, the one `path` names the file in, is there and
// private, then follows the links from `path` to the real file. Nothing outside our own folder
// is made or changed: the folder a link leads to keeps its mode, owner and setgid bit, and is
// never made when it is missing (a link into a disk that is not mounted must not put the
// passwords on another one): that is told instead.
RealFile reachRealFile(const std::string& path);

} // namespace platform
