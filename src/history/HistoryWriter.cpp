#include "history/HistoryWriter.h"

#include <new>
#include <utility>

namespace history {

using Cause = WriteReport::Cause;

namespace {

constexpr char OutOfMemory[] = "there was not enough memory";

std::string count(std::size_t saves) {
    return std::to_string(saves) + " saved password(s)";
}

} // namespace

HistoryWriter::HistoryWriter(HistoryFile& file, std::function<void()> reportReady)
    : file_(file)
    , reportReady_(std::move(reportReady))
    , thread_(&HistoryWriter::run, this) {}

HistoryWriter::~HistoryWriter() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

bool HistoryWriter::save(const std::string& entry) {
    try {
        const std::lock_guard lock(mutex_);
        queued_.push_back(entry);
        ++handedOver_;
    } catch (const std::bad_alloc&) {
        return false;
    }
    wake_.notify_one();
    return true;
}

void HistoryWriter::giveBackLeftovers() {
    {
        const std::lock_guard lock(mutex_);
        startWrite_ = true;
    }
    wake_.notify_one();
}

void HistoryWriter::close() {
    {
        const std::lock_guard lock(mutex_);
        closing_ = true;
    }
    wake_.notify_one();
}

std::size_t HistoryWriter::savesHandedOver() const {
    const std::lock_guard lock(mutex_);
    return handedOver_;
}

std::optional<WriteReport> HistoryWriter::nextReport() {
    const std::lock_guard lock(mutex_);
    if (!reports_.empty()) {
        WriteReport report = std::move(reports_.front());
        reports_.pop_front();
        return report;
    }
    if (std::exchange(reportLost_, false)) {
        WriteReport report;
        report.problem = OutOfMemory;
        report.pending = handedOver_;
        return report;
    }
    return std::nullopt;
}

void HistoryWriter::run() {
    std::unique_lock lock(mutex_);
    bool retrying = false;
    for (;;) {
        const auto hasWork = [this] {
            return !queued_.empty() || startWrite_ || closing_ || finishing_ || stopping_;
        };
        if (retrying) {
            wake_.wait_for(lock, RetryInterval, hasWork);
        } else {
            wake_.wait(lock, hasWork);
        }
        const std::optional<bool> again = writeWhatIsDue(lock);
        if (!again) {
            return;
        }
        retrying = *again;
    }
}

std::string HistoryWriter::endingWithoutTheDisk(const std::string& account) {
    return "tavik: ending without waiting for the disk any longer: " +
           (account.empty() ? std::string("no saved password is lost.") : account) + "\n";
}

std::optional<bool> HistoryWriter::writeWhatIsDue(std::unique_lock<std::mutex>& lock) {
    const auto settle = [this] {
        done_ = true;
        return std::nullopt;
    };
    if (done_ || abandoned_) {
        return std::nullopt;
    }
    const bool last = closing_ || finishing_ || stopping_;
    const Cause cause = closing_           ? Cause::Close
                        : !queued_.empty() ? Cause::Save
                        : startWrite_      ? Cause::Start
                                           : Cause::Retry;
    startWrite_ = false;
    // Only one write runs at a time, so what the file holds pending can be asked here.
    const std::size_t carried = queued_.size() + file_.pending();
    if (last && cause != Cause::Close && carried == 0) {
        return settle(); // nothing left to write
    }
    // A Save never keeps the person waiting long, a retry even less; the close and every last
    // write wait longer only when they have saves to lose.
    const auto lockWait = last && carried > 0     ? HistoryFile::CloseLockWait
                          : cause == Cause::Retry ? HistoryFile::RetryLockWait
                                                  : HistoryFile::SaveLockWait;
    const std::vector<std::string> saves = std::exchange(queued_, {});
    carrying_ = carried;
    writing_ = true;
    lock.unlock();
    WriteReport report = writeOrReport(saves, cause, lockWait);
    lock.lock();
    carrying_ = 0;
    writing_ = false;
    if (abandoned_) {
        return std::nullopt; // the program is ending without waiting for this write
    }
    const bool retry = report.pending > 0 && report.mayWrite;
    try {
        if (finishing_) {
            finishWritten_ += report.problem.empty() ? report.written : 0;
        }
        if (last || finishing_) {
            last_ = report;
        }
        reports_.push_back(std::move(report));
    } catch (const std::bad_alloc&) {
        reportLost_ = true;
    }
    reportReady_();
    return last ? settle() : std::optional(retry);
}

WriteReport HistoryWriter::writeOrReport(const std::vector<std::string>& saves, Cause cause,
                                         std::chrono::milliseconds lockWait) noexcept {
    // Nothing may leave this thread as an exception: a failure is a report.
    try {
        return write(saves, cause, lockWait);
    } catch (...) {
    }
    try {
        WriteReport report;
        report.cause = cause;
        report.problem = OutOfMemory;
        report.pending = file_.pending() + saves.size();
        report.mayWrite = file_.mayWrite();
        return report;
    } catch (...) {
        WriteReport report; // a report without words
        report.cause = cause;
        return report;
    }
}

WriteReport HistoryWriter::write(const std::vector<std::string>& saves, Cause cause,
                                 std::chrono::milliseconds lockWait) {
    WriteReport report;
    report.cause = cause;
    std::string notKept;
    for (const std::string& entry : saves) {
        if (std::string problem = file_.keep(entry); !problem.empty()) {
            notKept = std::move(problem);
        }
    }
    const std::size_t pending = file_.pending();
    report.problem = file_.write(lockWait);
    if (report.problem.empty()) {
        report.problem = notKept;
        report.written = pending;
    }
    report.unconfirmed = file_.unconfirmed();
    report.mayWrite = file_.mayWrite();
    report.pending = file_.pending();
    report.unsavedSummary = file_.unsavedSummary();
    report.givenBack = file_.takeGivenBack();
    report.notices = file_.takeNotices();
    return report;
}

HistoryWriter::WriterState HistoryWriter::state() const {
    const std::lock_guard lock(mutex_);
    return stateNow();
}

HistoryWriter::WriterState HistoryWriter::stateNow() const {
    using platform::WritePhase;
    WriterState state{done_, WritePhase::None, {}, carrying_, queued_.size()};
    if (writing_) {
        const platform::HistoryStore::Progress progress = file_.progress();
        state.phase = progress.phase;
        if (progress.phase != WritePhase::None) {
            state.silentFor = std::chrono::steady_clock::now() - progress.since;
        }
    }
    return state;
}

std::string HistoryWriter::whatEndingNowLeaves(const WriterState& state) const {
    using platform::WritePhase;
    const std::string file = file_.location();
    const std::string saves = count(state.carried);
    std::string words;
    if (state.carried > 0) {
        switch (state.phase) {
        case WritePhase::WaitingForLock:
            words = saves + " were still waiting for the lock on " + file + ": they are lost.";
            break;
        case WritePhase::Flushing:
            // Its new file holds every save it carries; only the disk has not confirmed it.
            words = "the disk has not confirmed the write of " + saves + " to " + file +
                    ": what it wrote is beside the file, and the next start finishes it.";
            break;
        case WritePhase::InPlace:
            words = saves + " are in " + file + ", but the disk has not confirmed it.";
            break;
        default: // nothing of them is beside the file yet
            words = "the disk has not answered while " + saves + " were being written to " + file +
                    ": they are lost.";
        }
    }
    if (state.behind > 0) {
        words += (words.empty() ? "" : " ") + count(state.behind) +
                 " saved after it were not written: they are lost.";
    }
    return words;
}

HistoryWriter::Ending HistoryWriter::finish(std::chrono::milliseconds diskSilence,
                                            LockWait lockWait) {
    {
        const std::lock_guard lock(mutex_);
        finishing_ = true;
    }
    wake_.notify_one();
    std::unique_lock lock(mutex_);
    // Looked at every 20 ms: the bounds are seconds, and the disk's silence is measured, not
    // signalled.
    while (!done_) {
        const WriterState now = stateNow();
        if (abandoned_ || now.silentFor >= diskSilence ||
            (lockWait == LockWait::GiveUp && now.phase == platform::WritePhase::WaitingForLock)) {
            abandoned_ = true;
            return {!now.atStake(), whatEndingNowLeaves(now)};
        }
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        lock.lock();
    }
    if (!last_ || last_->pending == 0) {
        return {true, finishWritten_ == 0
                          ? std::string()
                          : count(finishWritten_) + " kept in memory were written to " +
                                file_.location() + "."};
    }
    return {false, "the saved passwords kept in memory could not be written to " +
                       file_.location() + ": " + last_->problem + ". " + last_->unsavedSummary};
}

} // namespace history
