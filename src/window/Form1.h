#pragma once

#include "generator/PasswordGenerator.h"
#include "history/HistoryFile.h"
#include "history/HistoryTable.h"
#include "platform/HistoryStore.h"
#include "platform/RandomSource.h"
#include "window/SaveReports.h"

#include <QWidget>

#include <map>
#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace window {

class LengthSpinner;

// The program's one window: a fixed layout of controls, each at the place the design gives it,
// and the event procedures that answer them.
class Form1 : public QWidget {
    Q_OBJECT
public:
    // Throws std::system_error when no thread can be had for the history's writes.
    Form1(platform::RandomSource& random, platform::HistoryStore& historyStore,
          QWidget* parent = nullptr);

    // Closes the window when nobody is watching it (the program was asked to stop): a message
    // box still open is closed, the history is written as on any close, and a failure is
    // reported on standard error only. Should the disk not answer, the program ends without it
    // within seconds. Asking again while the window closes changes nothing.
    void closeUnattended();

    // False when the close lost saved passwords: the program then ends with a failure status.
    bool historyKept() const { return reports_.historyKept(); }

signals:
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
    // Saves of leftovers, given back by the writer, join the list.
    void showGivenBack(const std::vector<std::string>& givenBack, std::size_t ownSavesAfter);

    void Form_Load();
    void Form_Unload();
    void VScroll1_Change();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();

    platform::RandomSource& random_;
    history::HistoryFile historyFile_;
    SaveReports reports_;
    bool unloaded_ = false;
    std::map<int, ulong> keyReleasedAt_; // each key that presses a button, as last let go

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
