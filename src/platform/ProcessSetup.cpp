#include "platform/ProcessSetup.h"

#include <csignal>

namespace platform {

void setUpProcess() {
    // Under a file-size limit (ulimit -f), a write past it would kill the program with SIGXFSZ,
    // and this run's saves with it. Ignored, the write fails with EFBIG and is told.
    std::signal(SIGXFSZ, SIG_IGN);
}

} // namespace platform
