#pragma once

// The monotonic clock as the test binary sees it, moved on by `skipAhead`: seconds of a silent
// disk pass without being waited through. Include it in one source file of a test binary: it
// stands in for the C library's clock_gettime (behind std::chrono::steady_clock, Qt's timers,
// and the deadlines of QTest), and for the timed wait of std::condition_variable, whose deadline
// is read on that clock and must be taken back to the kernel's.

#include <atomic>
#include <chrono>
#include <cstdint>

#include <dlfcn.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

inline std::atomic<std::int64_t> skippedNanoseconds{0};

inline void skipAhead(std::chrono::nanoseconds by) {
    skippedNanoseconds += by.count();
}

inline timespec movedBy(const timespec& time, std::int64_t nanoseconds) {
    const std::int64_t total = std::int64_t(time.tv_sec) * 1000000000 + time.tv_nsec + nanoseconds;
    return {time_t(total / 1000000000), long(total % 1000000000)};
}

// A raw system call, as a signal handler may read the clock too.
extern "C" int clock_gettime(clockid_t clock, timespec* time) {
    const int result = int(::syscall(SYS_clock_gettime, clock, time));
    if (result == 0 && clock == CLOCK_MONOTONIC) {
        *time = movedBy(*time, skippedNanoseconds.load());
    }
    return result;
}

extern "C" int pthread_cond_clockwait(pthread_cond_t* condition, pthread_mutex_t* mutex,
                                      clockid_t clock, const timespec* deadline) {
    using Wait = int(pthread_cond_t*, pthread_mutex_t*, clockid_t, const timespec*);
    static Wait* const real = reinterpret_cast<Wait*>(::dlsym(RTLD_NEXT, "pthread_cond_clockwait"));
    const timespec onTheKernelsClock =
        clock == CLOCK_MONOTONIC ? movedBy(*deadline, -skippedNanoseconds.load()) : *deadline;
    return real(condition, mutex, clock, &onTheKernelsClock);
}
