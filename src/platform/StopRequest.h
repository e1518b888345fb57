#pragma once

#include <atomic>

namespace platform {

// Set by the stop signals' handler (SIGTERM, SIGINT, SIGHUP) as the signal comes: read from
// anywhere, a signal handler included, by what must end sooner once a stop is asked for.
inline std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

} // namespace platform
