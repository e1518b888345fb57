#include "history/HistoryWriter.h"

#include <new>
#include <utility>

namespace history {

using Cause = WriteReport::Cause;

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
    if (reportLost_) {
        WriteReport report;
        report.cause = *std::exchange(reportLost_, std::nullopt);
        report.problem = OutOfMemory;
        report.saves = file_.ledger().counts();
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
    // Kept in the ledger under the mutex, so that every save is counted once at every instant:
    // queued, or kept.
    bool notKept = false;
    for (const std::string& entry : std::exchange(queued_, {})) {
        notKept = !file_.keep(entry).empty() || notKept;
    }
    const std::size_t carried = file_.ledger().counts().total();
    if (last && cause != Cause::Close && carried == 0) {
        return settle(); // nothing left to write
    }
    // A Save never keeps the person waiting long, a retry even less; the close and every last
    // write wait longer only when they have saves to lose.
    const auto lockWait = last && carried > 0     ? HistoryFile::CloseLockWait
                          : cause == Cause::Retry ? HistoryFile::RetryLockWait
                                                  : HistoryFile::SaveLockWait;
    const std::size_t handedOver = handedOver_;
    writing_ = true;
    lock.unlock();
    WriteReport report = writeOrReport(cause, lockWait);
    lock.lock();
    writing_ = false;
    report.handedOver = handedOver;
    if (notKept) {
        report.notKept = true;
        report.problem = report.problem.empty() ? OutOfMemory : report.problem;
    }
    if (abandoned_) {
        return std::nullopt; // the program is ending without waiting for this write
    }
    const bool retry = report.saves.total() > 0 && report.mayWrite;
    try {
        if (finishing_) {
            finishWritten_ += report.problem.empty() ? report.written : 0;
        }
        if (last || finishing_) {
            last_ = report;
        }
        reports_.push_back(std::move(report));
    } catch (const std::bad_alloc&) {
        reportLost_ = cause;
    }
    reportReady_();
    return last ? settle() : std::optional(retry);
}

WriteReport HistoryWriter::writeOrReport(Cause cause, std::chrono::milliseconds lockWait) noexcept {
    // Nothing may leave this thread as an exception: a failure is a report.
    try {
        return write(cause, lockWait);
    } catch (...) {
    }
    WriteReport report; // without words, should there be no memory for them
    report.cause = cause;
    report.saves = file_.ledger().counts();
    report.mayWrite = file_.mayWrite();
    try {
        report.problem = OutOfMemory;
    } catch (...) {
    }
    return report;
}

WriteReport HistoryWriter::write(Cause cause, std::chrono::milliseconds lockWait) {
    WriteReport report;
    report.cause = cause;
    const std::size_t kept = file_.ledger().counts().total();
    report.problem = file_.write(lockWait);
    report.written = report.problem.empty() ? kept : 0;
    report.unconfirmed = file_.unconfirmed();
    report.mayWrite = file_.mayWrite();
    report.saves = file_.ledger().counts();
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
    WriterState state{done_, WritePhase::None, {}, file_.ledger().counts(), queued_.size()};
    if (writing_) {
        const platform::HistoryStore::Progress progress = file_.progress();
        state.phase = progress.phase;
        if (progress.phase != WritePhase::None) {
            state.silentFor = std::chrono::steady_clock::now() - progress.since;
        }
    }
    return state;
}

std::string HistoryWriter::whatEndingNowLeaves(const WriterState& state, bool ending) const {
    std::string words = whereSavesStand(state.saves, file_.location(), state.phase, ending);
    if (state.behind > 0) {
        words += (words.empty() ? "" : " ") + savedPasswords(state.behind) +
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
            return {!now.atStake(), whatEndingNowLeaves(now, true)};
        }
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        lock.lock();
    }
    if (!last_ || last_->saves.atRisk() == 0) {
        std::string account = finishWritten_ == 0
                                  ? std::string()
                                  : savedPasswords(finishWritten_) +
                                        " kept in memory were written to " + file_.location() + ".";
        if (last_ && last_->saves.besideFile > 0) {
            account +=
                (account.empty() ? "" : " ") +
                whereSavesStand(last_->saves, file_.location(), platform::WritePhase::None, true);
        }
        return {true, account};
    }
    return {false,
            "the last write to " + file_.location() + " failed: " + last_->problem + ". " +
                whereSavesStand(last_->saves, file_.location(), platform::WritePhase::None, true)};
}

} // namespace history
