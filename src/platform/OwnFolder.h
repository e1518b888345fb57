#pragma once

#include <string>

namespace platform {

// Makes the program's own folder (the `tavik` folder that the history's path names the file
// in), and the folders above it that are missing, and keeps it private: only its owner may even
// list it. A folder that is there already is success, whoever made it a moment ago. A link in
// its place, or on the way to it, must lead to a folder that is there: nothing is made in place
// of a missing one (a disk that is not mounted), and the folder a link leads to is not ours to
// change. Returns why it could not, if it could not.
std::string makeOwnFolder(const std::string& folder);

} // namespace platform
