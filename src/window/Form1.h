#pragma once

#include "generator/SpecialChars.h"
#include "platform/RandomSource.h"

#include <QWidget>

#include <string>

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
    explicit Form1(platform::RandomSource& random, QWidget* parent = nullptr);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();
    void setFocusOrder();

    void Form_Load();
    void Form_Unload();
    void VScroll1_Change();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();

    platform::RandomSource& random_;

    // Form-level state.
    std::string CurrentPassword;
    generator::SpecialCharTable SpecialChars{};

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
