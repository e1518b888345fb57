#pragma once

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

namespace platform {

// The system's own words for an error number, never a guess.
inline std::string systemReason(int error = errno) {
    return std::strerror(error);
}

// "what (reason)": what failed, and the system's reason.
inline std::string because(const std::string& what, int error = errno) {
    return what + " (" + systemReason(error) + ")";
}

// Closes a descriptor when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int fd)
        : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    // Closes it now, saying why the close failed (a delayed write error, on some file systems).
    std::string close() {
        const int fd = std::exchange(fd_, -1);
        return ::close(fd) == 0 || errno == EINTR ? std::string() : systemReason();
    }

private:
    int fd_;
};

// Run as root on another user's files (sudo keeping HOME, say), what the program makes or
// replaces is given to the owner and group of `model` (the file it replaces, or the folder it
// is made in), so that the user's own next run can still open it. An ordinary user cannot give
// a file away and need not: what they make is theirs, in the folder's group where it is setgid.
inline bool ownedLike(int fd, const struct stat& model) {
    struct stat own {};
    return ::geteuid() != 0 ||
           (::fstat(fd, &own) == 0 && own.st_uid == model.st_uid && own.st_gid == model.st_gid) ||
           ::fchown(fd, model.st_uid, model.st_gid) == 0;
}

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
