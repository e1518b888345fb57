#pragma once

#include "platform/SystemError.h"

#include <string>
#include <utility>

#include <unistd.h>

namespace platform {

// Closes a file descriptor when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int fd = -1)
        : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    Descriptor(Descriptor&& other) noexcept
        : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    int get() const { return fd_; }
    // Closes it now, saying why the close failed (a delayed write error, on some file systems).
    std::string close() {
        const int fd = std::exchange(fd_, -1);
        return ::close(fd) == 0 || errno == EINTR ? std::string() : systemReason();
    }

private:
    int fd_;
};

} // namespace platform
