#pragma once

namespace platform {

// Settings of the whole process that the program needs before anything else runs, Qt included:
// standard streams that are always open, and signals that would kill it for no good reason
// ignored.
void setUpProcess();

} // namespace platform
