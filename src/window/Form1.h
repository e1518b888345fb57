#pragma once

#include "generator/PasswordGenerator.h"
#include "history/HistoryFile.h"
#include "history/HistoryTable.h"
#include "history/HistoryWriter.h"
#include "history/WriteAtExit.h"
#include "platform/HistoryStore.h"
#include "platform/RandomSource.h"
#include "window/EventLoopWakeUp.h"

#include <QPointer>
#include <QWidget>

#include <set>
#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMessageBox;
class QPushButton;

namespace window {

class LengthSpinner;

// The program's one window: a fixed layout of controls, each at the place the design gives it,
// and the event procedures that answer them.
class Form1 : public QWidget {
    Q_OBJECT
public:
    Form1(platform::RandomSource& random, platform::HistoryStore& historyStore,
          QWidget* parent = nullptr);

    // How long a close waits for a disk that does not answer: before the person is asked
    // whether to go on waiting, and, when the program was asked to stop, before it ends all the
    // same (the next start finishes a write cut short).
    static constexpr int DiskSilenceMs = 11000;
    static constexpr int StopWaitMs = 3000;

    // Closes the window when nobody is watching it (the program was asked to stop): a message
    // box still open is closed, the history is written as on any close, and a failure is
    // reported on standard error only. Should the write not come back within a few seconds, the
    // program ends without it. Asking again while the window closes changes nothing.
    void closeUnattended();

    // False when the close lost saved passwords: the program then ends with a failure status.
    bool historyKept() const { return historyKept_; }

    // How many saves the window has handed to the writer, and how many of them the writes that
    // have come back took in: a Save's own write has come back once the second reaches the first.
    std::size_t savesHandedOver() const { return historyWriter_.savesHandedOver(); }
    std::size_t savesReported() const { return savesReported_; }

signals:
    // The write of a Save or of the close has come back, and been told if it had to be.
    void historyReported();
    // The history's last write has come back, and the window has closed: the program may end.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void setFocusOrder();

    void RefreshHistoryList();
    void copyFromPasswordBox();
    void copyFromList();
    void showPasswordBoxMenu(const QPoint& position);
    // Says what went wrong with the history (`what`, naming the file), why, and what follows for
    // the saved passwords, on standard error and, when a person is there to read it, in the
    // window: once for a fault that goes on, unless it must always be told. Returns the message.
    enum Telling { OncePerFault, Always };
    std::string reportHistoryProblem(const std::string& what, const std::string& problem,
                                     const std::string& consequence,
                                     Telling telling = OncePerFault);
    // A write worked: the next failure is a new fault, told again.
    void faultCleared();
    // What a write of the history came to, told as it needs to be.
    void deliverReports();
    void historyWritten(const history::WriteReport& report);
    void historyClosed(const history::WriteReport& report);
    // Saves of writes cut short, given back by the writer, join the list.
    void showGivenBack(const std::vector<std::string>& givenBack);
    void tellPerson(const std::string& message);
    // The close's write has not come back: ask the person whether to wait for the disk.
    void askAboutASilentDisk();
    // Ends the program now, saying on standard error what the disk has not confirmed.
    [[noreturn]] void endWithoutTheDisk();

    void Form_Load();
    void Form_Unload();
    void VScroll1_Change();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();

    platform::RandomSource& random_;
    history::HistoryFile historyFile_;
    const std::string historyWhere_; // the file's name, for messages
    EventLoopWakeUp reportsReady_{[this] {
        deliverReports();
    }};
    history::HistoryWriter historyWriter_{historyFile_, [this] {
                                              reportsReady_.wake();
                                          }};
    history::WriteAtExit writeAtExit_{historyWriter_};
    std::size_t savesReported_ = 0;
    bool historyClosed_ = false; // the last write has come back
    bool stopArmed_ = false;     // a stop request ends the program, write or not
    bool closingUnattended_ = false;
    bool unloaded_ = false;
    bool historyKept_ = true;
    std::string toTellOnceShown_;       // told to the person once the window shows
    std::set<std::string> reasonsTold_; // on standard error, since the last write that worked
    bool boxShownForFault_ = false;     // in the window, since the last write that worked
    QPointer<QMessageBox> messageBox_;

    // Form-level state.
    std::string CurrentPassword;
    generator::SpecialCharTable SpecialChars{};
    history::HistoryTable History;

    // Controls, named after their kind and number.
    QLabel* Label1 = nullptr;
    QListWidget* List1 = nullptr;
    QCheckBox* Check1 = nullptr;
    QLabel* Label3 = nullptr;
    QCheckBox* Check3 = nullptr;
    QLabel* Label9 = nullptr;
    QCheckBox* Check2 = nullptr;
    QLabel* Label4 = nullptr;
    QCheckBox* Check4 = nullptr;
    QLabel* Label10 = nullptr;
    QLabel* Label2 = nullptr;
    LengthSpinner* VScroll1 = nullptr;
    QLabel* Label5 = nullptr;
    QPushButton* Command1 = nullptr;
    QLineEdit* Text1 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command3 = nullptr;
    QLabel* Label7 = nullptr;
};

} // namespace window
