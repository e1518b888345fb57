#include "platform/SystemRandomSource.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string.h> // explicit_bzero
#include <sys/random.h>

namespace platform {

namespace {
constexpr unsigned CodeCount = RandomSource::HighestCode + 1; // 123
// The largest multiple of 123 that a byte can hold: bytes at or above it are thrown away, so
// that every code keeps exactly two of the accepted byte values and none is favoured.
constexpr unsigned AcceptedBytes = 256 / CodeCount * CodeCount; // 246
} // namespace

SystemRandomSource::~SystemRandomSource() {
    // Unused bytes would have become password characters: do not leave them in freed memory.
    explicit_bzero(buffer_.data(), buffer_.size());
}

std::int16_t SystemRandomSource::nextCode() {
    for (;;) {
        const unsigned byte = nextByte();
        if (byte < AcceptedBytes) {
            return static_cast<std::int16_t>(byte % CodeCount);
        }
    }
}

std::uint8_t SystemRandomSource::nextByte() {
    if (used_ == buffer_.size()) {
        refill();
    }
    const std::uint8_t byte = buffer_[used_];
    buffer_[used_++] = 0;
    return byte;
}

void SystemRandomSource::refill() {
    std::size_t filled = 0;
    while (filled < buffer_.size()) {
        const ssize_t got = getrandom(buffer_.data() + filled, buffer_.size() - filled, 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            // A password tool must never fall back to a weaker source: stop instead.
            std::fprintf(stderr, "tavik: the kernel's random source failed: %s\n",
                         std::strerror(errno));
            std::abort();
        }
        filled += static_cast<std::size_t>(got);
    }
    used_ = 0;
}

} // namespace platform
