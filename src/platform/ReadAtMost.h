#pragma once

#include <algorithm>
#include <cerrno>
#include <string>

#include <unistd.h>

namespace platform {

// Reads from `fd` into `bytes` until the end, or until `most` bytes in all: never more, for a
// file may grow meanwhile, or never end. Returns 0, or the error that stopped it.
inline int readAtMost(int fd, std::size_t most, std::string& bytes) {
    char chunk[64 * 1024];
    while (bytes.size() < most) {
        const ssize_t n = ::read(fd, chunk, std::min(sizeof chunk, most - bytes.size()));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n < 0 ? errno : 0;
        }
        bytes.append(chunk, std::size_t(n));
    }
    return 0;
}

} // namespace platform
