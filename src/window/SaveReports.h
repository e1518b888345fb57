#pragma once

#include "history/HistoryFile.h"
#include "history/HistoryWriter.h"
#include "history/WriteAtExit.h"
#include "window/EventLoopWakeUp.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <cstddef>
#include <set>
#include <string>
#include <vector>

class QMessageBox;
class QWidget;

namespace window {

// The window's side of every save: hands each to the writer, tells the person what became of
// it, and sees the close through, so that the program ends only once the last write has come
// back, or, when the disk itself does not answer, with the person's leave or on a stop request,
// saying what the disk has not confirmed. Every ending goes through the writer's finish().
class SaveReports : public QObject {
    Q_OBJECT
public:
    // How long the disk itself may not answer during the close: before the person is asked
    // whether to go on waiting (and asked again each time it stays silent that long), and, once
    // the program was asked to stop, before it ends all the same.
    static constexpr std::chrono::seconds AskAfter = history::HistoryWriter::DiskSilence;
    static constexpr std::chrono::seconds StopAfter = history::HistoryWriter::StopSilence;

    SaveReports(history::HistoryFile& file, QWidget& window);

    // Hands a save to the writer, which writes it at once; the window does not wait for it.
    void save(const std::string& entry);
    // Gives back the saves of the leftovers beside the history, once the window shows.
    void giveBackLeftoversOnceShown() { leftoversToGiveBack_ = true; }
    // Tells `message` in the window as soon as it shows.
    void tellOnceShown(std::string message);
    void windowShown();
    // The window has gone: the last write, watched until it comes back.
    void close();
    // The program was asked to stop: a box still open is closed, and nobody is asked anything.
    void stopRequested();

    bool closeCameBack() const { return closeCameBack_; }
    // False when the close lost saved passwords: the program then ends with a failure status.
    bool historyKept() const { return historyKept_; }

    // Says what went wrong with the history (`what`, naming the file), why, and what follows for
    // the saved passwords, on standard error and, when a person is there to read it, in the
    // window: once for a fault that goes on, unless it must always be told. Returns the message.
    enum Telling { OncePerFault, Always };
    std::string reportProblem(const std::string& what, const std::string& problem,
                              const std::string& consequence, Telling telling = OncePerFault);

signals:
    // Saves that leftovers carried, given back: they join the list where the history has them,
    // before the newest `ownSavesAfter` of this run's saves.
    void givenBack(const std::vector<std::string>& saves, std::size_t ownSavesAfter);
    // The last write has come back, and the window has closed: the program may end.
    void closed();

private:
    void deliverReports();
    void historyWritten(const history::WriteReport& report);
    void historyClosed(const history::WriteReport& report);
    void tellPerson(const std::string& message);
    void faultCleared();
    // Every quarter second while the close's write has not come back.
    void watchTheClose();
    void askAboutASilentDisk(const history::HistoryWriter::WriterState& state);
    void endWithoutTheDisk(history::HistoryWriter::LockWait lockWait);

    QWidget& window_;
    const std::string where_; // the file's name, for messages
    EventLoopWakeUp reportsReady_{[this] {
        deliverReports();
    }};
    history::HistoryWriter writer_;
    history::WriteAtExit writeAtExit_{writer_};

    bool leftoversToGiveBack_ = false;
    bool closeCameBack_ = false;
    bool stopping_ = false;
    bool historyKept_ = true;
    std::string toTellOnceShown_;
    std::set<std::string> reasonsTold_; // on standard error, since the last write that worked
    bool boxShownForFault_ = false;     // in the window, since the last write that worked
    QPointer<QMessageBox> messageBox_;
    QTimer closeWatch_;
    // The disk's silence counts from here too: the person's last answer to the box.
    std::chrono::steady_clock::time_point answeredAt_;
};

} // namespace window
