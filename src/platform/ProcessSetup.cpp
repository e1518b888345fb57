#include "platform/ProcessSetup.h"

#include <cerrno>
#include <csignal>

#include <fcntl.h>

namespace platform {

void setUpProcess() {
    // Started with a standard stream closed (`tavik 2>&-`, as some launchers do), the next file
    // opened would take its number: the display connection, into which every message to
    // standard error would then go. /dev/null takes the place instead; open() gives the lowest
    // free number, which is this one, as the ones below it are open by now.
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            ::open("/dev/null", O_RDWR);
        }
    }
    // A message to a standard error that nobody reads any more (a launcher's log reader that
    // died) fails quietly, rather than kill the program and the saves it keeps in memory.
    std::signal(SIGPIPE, SIG_IGN);
    // Under a file-size limit (ulimit -f), a write past it would kill the program with SIGXFSZ,
    // and this run's saves with it. Ignored, the write fails with EFBIG and is told.
    std::signal(SIGXFSZ, SIG_IGN);
}

} // namespace platform
