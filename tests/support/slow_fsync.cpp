// fsync(2) on a busy disk, preloaded by the end-to-end tests and benchmarks: it takes
// TAVIK_FSYNC_DELAY_MS longer, and waits while the file TAVIK_FSYNC_GATE exists (10 s at most).
#include <cstdlib>
#include <dlfcn.h>
#include <unistd.h>

extern "C" int fsync(int fd) {
    const char* gate = std::getenv("TAVIK_FSYNC_GATE");
    const char* delayMs = std::getenv("TAVIK_FSYNC_DELAY_MS");
    ::usleep(useconds_t(delayMs ? std::atoi(delayMs) : 0) * 1000);
    for (int waited = 0; gate && ::access(gate, F_OK) == 0 && waited < 1000; ++waited) {
        ::usleep(10000);
    }
    return reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, "fsync"))(fd);
}
