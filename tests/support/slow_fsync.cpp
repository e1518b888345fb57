// A disk that is slow or silent, preloaded by the end-to-end tests and benchmarks: fsync(2) takes
// TAVIK_FSYNC_DELAY_MS longer, and waits while the file TAVIK_FSYNC_GATE exists; opening a file
// named passwords.txt waits while TAVIK_OPEN_GATE exists (each 10 s at most), as on a network
// home whose server has gone.
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

void waitAt(const char* gateVariable) {
    const char* gate = std::getenv(gateVariable);
    for (int waited = 0; gate && ::access(gate, F_OK) == 0 && waited < 1000; ++waited) {
        ::usleep(10000);
    }
}

} // namespace

extern "C" int fsync(int fd) {
    const char* delayMs = std::getenv("TAVIK_FSYNC_DELAY_MS");
    ::usleep(useconds_t(delayMs ? std::atoi(delayMs) : 0) * 1000);
    waitAt("TAVIK_FSYNC_GATE");
    return reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, "fsync"))(fd);
}

extern "C" int open(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(arguments, mode_t) : 0;
    va_end(arguments);
    const std::size_t length = std::strlen(path);
    if (length >= 13 && std::strcmp(path + length - 13, "passwords.txt") == 0) {
        waitAt("TAVIK_OPEN_GATE");
    }
    return reinterpret_cast<int (*)(const char*, int, ...)>(::dlsym(RTLD_NEXT, "open"))(path, flags,
                                                                                        mode);
}
