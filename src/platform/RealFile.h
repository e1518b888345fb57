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

// Follows the links from `path` to the real file, which need not exist yet; its folder must.
// Nothing is made or changed on the way.
RealFile followLinks(std::string path);

} // namespace platform
