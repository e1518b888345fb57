#pragma once

namespace platform {

// Settings of the whole process that the program needs before anything else runs.
void setUpProcess();

} // namespace platform
