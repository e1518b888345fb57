#include "window/SaveReports.h"

#include "window/TitleBar.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include <QMessageBox>
#include <QPushButton>
#include <QWidget>

namespace window {

namespace {

using Cause = history::WriteReport::Cause;
using WriterState = history::HistoryWriter::WriterState;

// What follows for the saves from a write that failed before the close.
std::string consequence(const history::WriteReport& report, const std::string& where) {
    if (report.notKept) {
        return " There was no memory to keep it either: it is lost.";
    }
    if (report.saves.total() == 0) {
        // The leftovers whose saves it would have given back were not taken in.
        return " They stay beside it, and a later write gives them back.";
    }
    if (!report.mayWrite) {
        return " It is kept in this window only until Tavik closes.";
    }
    if (report.saves.inMemory > 0) {
        return " It is kept and retried every few seconds until it is written.";
    }
    return " " + history::whereSavesStand(report.saves, where, platform::WritePhase::None, false) +
           " Tavik tries again every few seconds.";
}

// How a message about a write that failed begins: what became of the saves, and in which file.
std::string whatBecameOfTheSaves(const history::WriteReport& report, const std::string& file) {
    if (report.unconfirmed) {
        switch (report.cause) {
        case Cause::Save:
            return "The password just saved is in " + file + ", but the disk did not confirm it";
        case Cause::Retry:
        case Cause::Start:
            return "The passwords saved are in " + file +
                   ", but the disk still did not confirm them";
        case Cause::Close:
            return "The password history was written to " + file +
                   ", but the disk did not confirm it";
        }
    }
    switch (report.cause) {
    case Cause::Save:
        return "The password just saved was not written to " + file;
    case Cause::Retry:
        return "The passwords saved were still not written to " + file;
    case Cause::Start:
        return "The passwords saved by a write cut short were not written back to " + file;
    case Cause::Close:
        return "The password history was not saved to " + file;
    }
    return {};
}

} // namespace

SaveReports::SaveReports(history::HistoryFile& file, QWidget& window)
    : window_(window)
    , where_(file.location())
    , writer_(file, [this] { reportsReady_.wake(); }) {
    closeWatch_.setInterval(250);
    connect(&closeWatch_, &QTimer::timeout, this, &SaveReports::watchTheClose);
}

void SaveReports::save(const std::string& entry) {
    // Written at once, so that a save survives a logout that takes the display away, a crash
    // or a kill; a write that fails is retried until it works.
    if (!writer_.save(entry)) {
        reportProblem("The password just saved was not written to " + where_, history::OutOfMemory,
                      " It is kept in this window only.");
    }
}

void SaveReports::tellOnceShown(std::string message) {
    toTellOnceShown_ = std::move(message);
}

void SaveReports::windowShown() {
    if (std::exchange(leftoversToGiveBack_, false)) {
        writer_.giveBackLeftovers();
    }
    if (!toTellOnceShown_.empty()) {
        // Once the window is on screen, so that the message stands in front of it.
        QTimer::singleShot(0, this, [this, message = toTellOnceShown_] { tellPerson(message); });
        toTellOnceShown_.clear();
    }
}

void SaveReports::close() {
    // Every save is normally on disk already; this also leaves the file in the program's own
    // format, and retries saves whose write failed.
    writer_.close();
    answeredAt_ = std::chrono::steady_clock::now();
    closeWatch_.start();
}

void SaveReports::stopRequested() {
    stopping_ = true;
    // A box waiting for a person would hold up the stop (a logout, say): close it.
    if (messageBox_) {
        messageBox_->reject();
    }
}

void SaveReports::watchTheClose() {
    const WriterState state = writer_.state();
    if (state.done || (messageBox_ && !stopping_)) {
        return; // its report is on its way; or the person is being asked
    }
    // Whoever asked to stop will not wait for a disk that does not answer (a logout kills what
    // is left soon after); a wait for the lock ends by itself.
    if (stopping_) {
        if (state.silentFor >= StopAfter) {
            endWithoutTheDisk(history::HistoryWriter::LockWait::WaitForIt);
        }
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (state.silentFor < AskAfter || now - answeredAt_ < AskAfter) {
        return;
    }
    if (!state.atStake()) {
        endWithoutTheDisk(history::HistoryWriter::LockWait::GiveUp); // nothing to lose
    } else {
        askAboutASilentDisk(state);
    }
}

void SaveReports::askAboutASilentDisk(const WriterState& state) {
    QMessageBox box(
        QMessageBox::Warning, window_.windowTitle(),
        QStringLiteral("The disk has not answered for %1 seconds.\n\nYou may wait for it, or "
                       "quit now: %2")
            .arg(std::chrono::duration_cast<std::chrono::seconds>(state.silentFor).count())
            .arg(QString::fromStdString(writer_.whatEndingNowLeaves(state, false))),
        QMessageBox::NoButton, &window_);
    box.setDefaultButton(box.addButton(tr("Wait"), QMessageBox::RejectRole));
    QPushButton* quit = box.addButton(tr("Quit"), QMessageBox::DestructiveRole);
    giveOwnTitleBarWhereQtWouldDrawOne(box);
    messageBox_ = &box;
    box.exec();
    answeredAt_ = std::chrono::steady_clock::now(); // Wait: asked again if it stays silent
    if (box.clickedButton() == quit && !closeCameBack_) {
        endWithoutTheDisk(history::HistoryWriter::LockWait::GiveUp);
    }
}

void SaveReports::endWithoutTheDisk(history::HistoryWriter::LockWait lockWait) {
    closeWatch_.stop();
    const history::HistoryWriter::Ending ending =
        writer_.finish(std::chrono::duration_cast<std::chrono::milliseconds>(StopAfter), lockWait);
    std::fputs(history::HistoryWriter::endingWithoutTheDisk(ending.account).c_str(), stderr);
    // The writing thread is held up in the disk and cannot be joined.
    std::_Exit(ending.safe ? 0 : 1);
}

void SaveReports::deliverReports() {
    // One at a time: telling one may open a message box, whose event loop delivers the next.
    while (const std::optional<history::WriteReport> report = writer_.nextReport()) {
        historyWritten(*report);
    }
}

void SaveReports::historyWritten(const history::WriteReport& report) {
    if (!report.givenBack.saves.empty()) {
        // After them in the history: this run's saves that the write carried, and those handed
        // over since it began.
        emit givenBack(report.givenBack.saves, report.givenBack.ownSavesAfter +
                                                   writer_.savesHandedOver() - report.handedOver);
    }
    for (const std::string& notice : report.notices) {
        std::fprintf(stderr, "tavik: %s\n", notice.c_str());
        // Reports come through the event loop, so only once the window has shown; once it has
        // gone, standard error is enough.
        if (window_.isVisible()) {
            tellPerson(notice);
        }
    }
    if (report.cause == Cause::Close) {
        historyClosed(report);
    } else if (report.problem.empty()) {
        if (report.cause == Cause::Retry) {
            std::fprintf(stderr,
                         "tavik: %zu saved password(s) kept in memory are now written to %s.\n",
                         report.written, where_.c_str());
        }
        faultCleared();
    } else {
        reportProblem(whatBecameOfTheSaves(report, where_), report.problem,
                      consequence(report, where_));
    }
}

void SaveReports::historyClosed(const history::WriteReport& report) {
    if (messageBox_) {
        // The question about a silent disk is answered: the outcome is told once it has gone.
        messageBox_->reject();
        QTimer::singleShot(0, this, [this, report] { historyClosed(report); });
        return;
    }
    closeWatch_.stop();
    closeCameBack_ = true;
    if (!report.problem.empty() && report.saves.atRisk() == 0 && !report.notKept) {
        // Nothing saved is lost: no alarm, and a success status.
        const std::string beside =
            report.saves.besideFile == 0
                ? std::string()
                : " " + history::whereSavesStand(report.saves, where_, platform::WritePhase::None,
                                                 true);
        std::fprintf(stderr, "tavik: %s %s: %s.%s\n", where_.c_str(),
                     report.unconfirmed ? "was rewritten, but the disk did not confirm it"
                                        : "was left as it was",
                     report.problem.c_str(), beside.c_str());
    } else if (!report.problem.empty()) {
        historyKept_ = false;
        reportProblem(
            whatBecameOfTheSaves(report, where_), report.problem,
            " " + history::whereSavesStand(report.saves, where_, platform::WritePhase::None, true),
            Always);
    }
    window_.close();
    emit closed();
}

std::string SaveReports::reportProblem(const std::string& what, const std::string& problem,
                                       const std::string& consequence, Telling telling) {
    const std::string message = what + ": " + problem + "." + consequence;
    // Writes that keep failing are one fault until a write works again: standard error hears
    // each reason once, and the person gets one box, whatever reasons follow.
    if (reasonsTold_.insert(problem).second || telling == Always) {
        std::fprintf(stderr, "tavik: %s\n", message.c_str());
    }
    // At start the window is not shown yet (windowShown tells the person), and a program being
    // stopped has nobody to ask. Once the window has gone, only the close's own loss is told.
    if (!stopping_ && !messageBox_ &&
        (telling == Always || (window_.isVisible() && !boxShownForFault_))) {
        boxShownForFault_ = true;
        tellPerson(message);
    }
    return message;
}

void SaveReports::faultCleared() {
    reasonsTold_.clear();
    boxShownForFault_ = false;
}

void SaveReports::tellPerson(const std::string& message) {
    if (stopping_ || messageBox_) {
        return;
    }
    QMessageBox box(QMessageBox::Warning, window_.windowTitle(), QString::fromStdString(message),
                    QMessageBox::Ok, &window_);
    giveOwnTitleBarWhereQtWouldDrawOne(box);
    messageBox_ = &box;
    box.exec();
}

} // namespace window
