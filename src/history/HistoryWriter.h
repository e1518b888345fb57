#pragma once

#include "history/HistoryFile.h"
#include "platform/HistoryStore.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace history {

// What one write of the history came to, for the window to tell.
struct WriteReport {
    enum class Cause { Save, Retry, Close, Start };
    Cause cause = Cause::Save;
    std::string problem;              // empty when it worked
    bool unconfirmed = false;         // the file holds the saves, but the disk did not confirm them
    bool mayWrite = true;             // false when the file is never written in this run
    bool notKept = false;             // a save could not even be kept in memory: it is lost
    std::size_t written = 0;          // how many kept saves it wrote, when it worked
    SaveLedger::Counts saves;         // where this run's saves not safely on disk stand after it
    std::size_t handedOver = 0;       // how many saves had been handed over when it began
    HistoryFile::GivenBack givenBack; // saves of leftovers that it gave back
    std::vector<std::string> notices; // leftovers whose saves could not be given back
};

// The one owner of every save handed over, from the moment the window hands it over until it is
// on disk: the queue, the thread that writes, the retry every two seconds or so while saves are
// kept after a failed write, and the last write however the program ends. Writes run in order,
// on a thread of their own, so that a slow disk or a lock held by another program never freezes
// the window; saves handed over while a write is under way go into the next one, together.
// Deliberately a plain thread with a queue: every hand-over between the threads is a std::mutex,
// which ThreadSanitizer can check.
class HistoryWriter {
public:
    static constexpr std::chrono::seconds RetryInterval{2};
    // How long the disk itself may not answer a last write: before the person is asked whether
    // to go on waiting, and, once a stop was requested, before it ends all the same. A wait for
    // another program's lock is not the disk's silence: it keeps its own bound.
    static constexpr std::chrono::seconds DiskSilence{10};
    static constexpr std::chrono::seconds StopSilence{3};

    // `reportReady` is called on the writing thread each time a report waits to be taken: it
    // only wakes the thread that takes them. Throws std::system_error when no thread can be
    // had: there is no other way to write, so the program cannot start without one.
    HistoryWriter(HistoryFile& file, std::function<void()> reportReady);
    // Writes what was handed over and not written yet, then stops. The program ends through
    // close() or finish(), so this only waits for a write when one is due.
    ~HistoryWriter();
    HistoryWriter(const HistoryWriter&) = delete;
    HistoryWriter& operator=(const HistoryWriter&) = delete;

    // Hands a save over and returns at once; false when there was no memory to keep it.
    bool save(const std::string& entry);
    // A write that gives back the saves of the leftovers found at start; returns at once.
    void giveBackLeftovers();
    // The last write, as the window closes; nothing is written after it.
    void close();
    // The next report, oldest first, on the thread that takes them.
    std::optional<WriteReport> nextReport();
    // How many saves have been handed over.
    std::size_t savesHandedOver() const;

    // Where the last write and the saves stand, for the close to judge; asked from any thread.
    struct WriterState {
        bool done = false; // the last write has come back: nothing more is written
        platform::WritePhase phase = platform::WritePhase::None; // of the write under way
        // How long the disk itself has not answered (a wait for another program's lock counts
        // only while flock has not answered); zero when no write is under way.
        std::chrono::steady_clock::duration silentFor{};
        SaveLedger::Counts saves; // not safely on disk: carried by the write under way, if any
        std::size_t behind = 0;   // handed over after it, not written yet
        bool atStake() const { return saves.atRisk() + behind > 0; }
    };
    WriterState state() const;
    // What ending now leaves of the saves, as a sentence for a person, from the step the write
    // under way is at; empty when no save is at stake.
    std::string whatEndingNowLeaves(const WriterState& state, bool ending) const;

    // What finish() came to.
    struct Ending {
        bool safe = true;    // every save handed over is on disk
        std::string account; // what became of them, for standard error; empty when nothing to say
    };
    // The one way out for every ending that cannot wait for the window: the exit hook, a stop
    // request while the disk does not answer, a person who quits. Hands every save still queued
    // to a last write, after the one under way, and waits for them: through a wait for another
    // program's lock (which ends by itself) unless told to give up, and until the disk itself has
    // not answered for `diskSilence`. Then says what is not on disk. The thread writes nothing
    // after it.
    enum class LockWait { WaitForIt, GiveUp };
    Ending finish(std::chrono::milliseconds diskSilence, LockWait lockWait = LockWait::WaitForIt);
    // The line for standard error when the program ends without waiting for the disk any longer.
    static std::string endingWithoutTheDisk(const std::string& account);

private:
    void run();
    // One write of what is due, with `lock` held but during the write itself. Returns whether
    // kept saves wait for a retry, or nothing once no write is to follow.
    std::optional<bool> writeWhatIsDue(std::unique_lock<std::mutex>& lock);
    WriterState stateNow() const; // with mutex_ held
    WriteReport write(WriteReport::Cause cause, std::chrono::milliseconds lockWait);
    WriteReport writeOrReport(WriteReport::Cause cause,
                              std::chrono::milliseconds lockWait) noexcept;

    HistoryFile& file_;
    const std::function<void()> reportReady_;

    mutable std::mutex mutex_;        // guards what follows, up to the thread
    std::condition_variable wake_;    // the thread waits on it for work
    std::vector<std::string> queued_; // handed over, not taken by a write yet
    std::size_t handedOver_ = 0;
    bool closing_ = false;
    bool startWrite_ = false; // leftovers wait to be given back
    bool finishing_ = false;
    std::size_t finishWritten_ = 0; // saves written since finish() began
    bool writing_ = false;          // a write is under way
    bool stopping_ = false;
    bool done_ = false;               // the last write has come back: nothing more is written
    bool abandoned_ = false;          // finish() gave up on the write under way
    std::optional<WriteReport> last_; // the last write's report, once done_
    std::deque<WriteReport> reports_; // for the thread that takes them
    // A report that could not be kept, for want of memory: its cause, so that a lost close's
    // report still ends the program.
    std::optional<WriteReport::Cause> reportLost_;

    std::thread thread_; // started once all the above is in place
};

} // namespace history
