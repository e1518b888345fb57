#pragma once

#include "platform/HistoryStore.h"
#include "platform/StopRequest.h"

#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <string>

#include <sys/time.h>
#include <unistd.h>

namespace platform {

// With no thread to be had for the history's writes, a write runs on the window's thread, where
// a disk that never answers would hold the program for good: no box can show, no stop signal is
// heard. While one of these lives, a timer looks every quarter second at the step the write is
// at; once the disk itself has not answered for `silence` (a wait for another program's lock
// does not count), or for a few seconds after a stop signal, it writes the words prepared for
// that step to standard error and ends the program with their status. Deliberately a signal
// handler, the one thing that can act while the only thread is in the disk; it reads lock-free
// atomics and writes prepared bytes only. A call the kernel sleeps in uninterruptibly still
// holds it off until it returns.
class StuckWriteAlarm {
public:
    static constexpr int Phases = int(WritePhase::InPlace) + 1;
    struct Ending {
        std::string words; // the whole line for standard error
        int status = 1;
    };

    StuckWriteAlarm(const HistoryStore& store, std::array<Ending, Phases> endings,
                    std::chrono::seconds silence, std::chrono::seconds afterStop)
        : armed_(!watching().exchange(true)) {
        if (!armed_) {
            return; // one is watching already: a write does not nest in another
        }
        watched() = {&store, std::move(endings), silence, afterStop};
        struct sigaction action {};
        action.sa_handler = &onAlarm;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGALRM, &action, nullptr);
        setTimer(250000);
    }
    ~StuckWriteAlarm() {
        if (armed_) {
            setTimer(0);
            watching() = false;
        }
    }
    StuckWriteAlarm(const StuckWriteAlarm&) = delete;
    StuckWriteAlarm& operator=(const StuckWriteAlarm&) = delete;

private:
    // What the handler reads: set before the timer starts, left until the next one.
    struct Watched {
        const HistoryStore* store = nullptr;
        std::array<Ending, Phases> endings;
        std::chrono::steady_clock::duration silence{};
        std::chrono::steady_clock::duration afterStop{};
    };
    static Watched& watched() {
        static Watched kept;
        return kept;
    }
    static std::atomic<bool>& watching() {
        static std::atomic<bool> flag{false};
        return flag;
    }
    static void setTimer(long microseconds) {
        itimerval every{};
        every.it_interval.tv_usec = every.it_value.tv_usec = microseconds;
        ::setitimer(ITIMER_REAL, &every, nullptr);
    }
    static void onAlarm(int) {
        if (!watching()) {
            return;
        }
        const Watched& now = watched();
        const HistoryStore::Progress progress = now.store->progress();
        if (progress.phase == WritePhase::None || progress.phase == WritePhase::WaitingForLock) {
            return;
        }
        const auto silent = std::chrono::steady_clock::now() - progress.since;
        if (silent >= now.silence || (stopRequested && silent >= now.afterStop)) {
            const Ending& ending = now.endings[int(progress.phase)];
            [[maybe_unused]] const ssize_t written =
                ::write(STDERR_FILENO, ending.words.data(), ending.words.size());
            ::_exit(ending.status);
        }
    }

    const bool armed_;
};

} // namespace platform
