#pragma once

#include <cerrno>
#include <cstring>
#include <string>

namespace platform {

// The system's own words for an error number, never a guess.
inline std::string systemReason(int error = errno) {
    return std::strerror(error);
}

// "what (reason)": what failed, and the system's reason.
inline std::string because(const std::string& what, int error = errno) {
    return what + " (" + systemReason(error) + ")";
}

} // namespace platform
