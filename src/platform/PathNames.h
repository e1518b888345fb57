#pragma once

#include <string>

namespace platform {

// The folder that an absolute path names a file in, and the file's name in it.
inline std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".")
           : slash == 0               ? std::string("/")
                                      : path.substr(0, slash);
}
inline std::string nameOf(const std::string& path) {
    return path.substr(path.find_last_of('/') + 1);
}

} // namespace platform
