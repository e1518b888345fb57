#include "window/HistoryWriter.h"

#include <QSocketNotifier>

#include <cstdint>
#include <utility>

#include <sys/eventfd.h>
#include <unistd.h>

namespace window {

using history::HistoryFile;

namespace {

constexpr std::chrono::seconds RetryInterval{2};

} // namespace

HistoryWriter::HistoryWriter(HistoryFile& file, std::function<void(const WriteReport&)> report)
    : file_(file)
    , report_(std::move(report))
    , windowWakeUp_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    , notifier_(std::make_unique<QSocketNotifier>(windowWakeUp_, QSocketNotifier::Read))
    , thread_(&HistoryWriter::run, this) {
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { deliverReports(); });
}

HistoryWriter::~HistoryWriter() {
    {
        const std::lock_guard lock(queue_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
    notifier_.reset();
    ::close(windowWakeUp_);
}

void HistoryWriter::save(const std::string& entry) {
    {
        const std::lock_guard lock(queue_);
        saves_.push_back(entry);
    }
    wake_.notify_one();
}

void HistoryWriter::close() {
    {
        const std::lock_guard lock(queue_);
        closing_ = true;
    }
    wake_.notify_one();
}

void HistoryWriter::run() {
    std::unique_lock lock(queue_);
    bool retrying = false;
    for (;;) {
        const auto hasWork = [this] {
            return !saves_.empty() || closing_ || stopping_;
        };
        if (retrying) {
            wake_.wait_for(lock, RetryInterval, hasWork);
        } else {
            wake_.wait(lock, hasWork);
        }
        if (stopping_) {
            return;
        }
        const bool closing = closing_;
        const std::vector<std::string> saves = std::exchange(saves_, {});
        lock.unlock();
        WriteReport report = write(saves, closing);
        lock.lock();
        retrying = report.pending > 0 && report.mayWrite;
        reports_.push_back(std::move(report));
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t woken = ::write(windowWakeUp_, &one, sizeof one);
        if (closing) {
            return;
        }
    }
}

WriteReport HistoryWriter::write(const std::vector<std::string>& saves, bool closing) {
    const std::lock_guard writing(writing_);
    WriteReport report;
    report.cause = closing         ? WriteReport::Cause::Close
                   : saves.empty() ? WriteReport::Cause::Retry
                                   : WriteReport::Cause::Save;
    std::string notKept;
    for (const std::string& entry : saves) {
        if (std::string problem = file_.keep(entry); !problem.empty()) {
            notKept = std::move(problem);
        }
    }
    // A Save never keeps the window's person waiting long, a retry even less; the close waits
    // longer only when it has saves to lose.
    const std::size_t pending = file_.pending();
    const auto lockWait =
        !closing       ? (saves.empty() ? HistoryFile::RetryLockWait : HistoryFile::SaveLockWait)
        : pending == 0 ? HistoryFile::SaveLockWait
                       : HistoryFile::CloseLockWait;
    report.problem = file_.write(lockWait);
    if (report.problem.empty()) {
        report.problem = notKept;
        report.written = pending;
    }
    report.unconfirmed = file_.unconfirmed();
    report.mayWrite = file_.mayWrite();
    report.pending = file_.pending();
    report.unsavedSummary = file_.unsavedSummary();
    return report;
}

void HistoryWriter::deliverReports() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t read = ::read(windowWakeUp_, &count, sizeof count);
    // One at a time: telling one may open a message box, whose event loop delivers the next.
    for (;;) {
        WriteReport report;
        {
            const std::lock_guard lock(queue_);
            if (reports_.empty()) {
                return;
            }
            report = std::move(reports_.front());
            reports_.pop_front();
        }
        report_(report);
    }
}

} // namespace window
