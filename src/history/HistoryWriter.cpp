#include "history/HistoryWriter.h"

#include <new>
#include <system_error>
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
    , reportReady_(std::move(reportReady)) {
    try {
        thread_ = std::thread(&HistoryWriter::run, this);
    } catch (const std::system_error&) {
        // No thread to be had (a limit on processes, no memory): each write then runs on the
        // caller's thread as it is handed over, slower for the window but never lost; kept saves
        // are retried at the next Save and at the close.
    }
}

HistoryWriter::~HistoryWriter() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) {
        thread_.join();
    } else {
        writeHereWithoutAThread();
    }
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
    writeHereWithoutAThread();
    return true;
}

void HistoryWriter::finishWritesCutShort() {
    {
        const std::lock_guard lock(mutex_);
        startWrite_ = true;
    }
    wake_.notify_one();
    writeHereWithoutAThread();
}

void HistoryWriter::close() {
    {
        const std::lock_guard lock(mutex_);
        closing_ = true;
    }
    wake_.notify_one();
    writeHereWithoutAThread();
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
        report.pending = report.covered = handedOver_;
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

void HistoryWriter::writeHereWithoutAThread() {
    if (!thread_.joinable()) {
        std::unique_lock lock(mutex_);
        writeWhatIsDue(lock);
    }
}

std::optional<bool> HistoryWriter::writeWhatIsDue(std::unique_lock<std::mutex>& lock) {
    const auto settle = [this] {
        done_ = true;
        settled_.notify_all();
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
    // A Save never keeps the person waiting long, a retry even less; the close waits longer
    // only when it has saves to lose; a last write as long as finish() allows.
    const auto lockWait = finishing_                              ? finishLockWait_
                          : cause == Cause::Retry                 ? HistoryFile::RetryLockWait
                          : cause != Cause::Close || carried == 0 ? HistoryFile::SaveLockWait
                                                                  : HistoryFile::CloseLockWait;
    const std::vector<std::string> saves = std::exchange(queued_, {});
    const std::size_t covered = handedOver_;
    carrying_ = carried;
    lock.unlock();
    WriteReport report = writeOrReport(saves, cause, lockWait);
    lock.lock();
    carrying_ = 0;
    if (abandoned_) {
        return std::nullopt; // the program is ending without waiting for this write
    }
    report.covered = covered;
    const bool retry = report.pending > 0 && report.mayWrite;
    try {
        if (last) {
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

HistoryWriter::Waiting HistoryWriter::waiting() const {
    const std::lock_guard lock(mutex_);
    return {carrying_, carrying_ > 0 && file_.writingUnderLock(), queued_.size()};
}

std::string HistoryWriter::whatEndingNowLoses(const Waiting& waiting) const {
    const std::string file = file_.location();
    std::string words;
    if (waiting.carried > 0 && waiting.atTheDisk) {
        words = "the disk has not confirmed the write of " + count(waiting.carried) + " to " +
                file + ": what it wrote is beside the file, and the next start finishes it.";
    } else if (waiting.carried > 0) {
        words = count(waiting.carried) + " still wait for the lock on " + file +
                ", held by another program: they are lost.";
    }
    if (waiting.behind > 0) {
        words += (words.empty() ? "" : " ") + count(waiting.behind) +
                 " saved after it were not written: they are lost.";
    }
    return words;
}

HistoryWriter::Ending HistoryWriter::finish(std::chrono::milliseconds wait) {
    {
        const std::lock_guard lock(mutex_);
        finishing_ = true;
        finishLockWait_ = wait / 2;
    }
    wake_.notify_one();
    writeHereWithoutAThread();
    std::unique_lock lock(mutex_);
    if (!settled_.wait_for(lock, wait, [this] { return done_; })) {
        abandoned_ = true;
        const Waiting now{carrying_, carrying_ > 0 && file_.writingUnderLock(), queued_.size()};
        lock.unlock();
        return {false, whatEndingNowLoses(now)};
    }
    if (!last_ || last_->pending == 0) {
        const std::size_t written = last_ && last_->problem.empty() ? last_->written : 0;
        return {true, written == 0 ? std::string()
                                   : count(written) + " kept in memory were written to " +
                                         file_.location() + "."};
    }
    return {false, "the saved passwords kept in memory could not be written to " +
                       file_.location() + ": " + last_->problem + ". " + last_->unsavedSummary};
}

} // namespace history
