#include "window/Form1.h"

#include "generator/PasswordGenerator.h"
#include "platform/SecretClipboard.h"
#include "window/Appearance.h"
#include "window/LengthSpinner.h"

#include <algorithm>

#include <QCheckBox>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

namespace window {

namespace {

// The layout is given in twips; 15 twips make one logical pixel at 96 dpi, and Qt's high-dpi
// scaling takes care of denser screens.
QRect fromTwips(int left, int top, int width, int height) {
    constexpr int TwipsPerPixel = 15;
    return {left / TwipsPerPixel, top / TwipsPerPixel, width / TwipsPerPixel,
            height / TwipsPerPixel};
}

template <typename Control>
Control* place(Control* control, const char* name, const QRect& geometry) {
    control->setObjectName(QLatin1String(name));
    control->setGeometry(geometry);
    return control;
}

void setColor(QWidget* widget, QPalette::ColorRole role, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(role, color);
    widget->setPalette(palette);
}

} // namespace

Form1::Form1(platform::RandomSource& random, platform::HistoryStore& historyStore, QWidget* parent)
    : QWidget(parent)
    , random_(random)
    , historyFile_(historyStore)
    , reports_(historyFile_, *this) {
    connect(&reports_, &SaveReports::givenBack, this, &Form1::showGivenBack);
    connect(&reports_, &SaveReports::closed, this, &Form1::closed);
    createControls();
    setFocusOrder();
    platform::keepSelectionSecret();
    Form_Load();
}

void Form1::createControls() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Tavik"));
    setFixedSize(fromTwips(0, 0, 4710, 6210).size());
    // Set on the window itself, so that every control inherits them and a platform theme that
    // changes the application's palette or font later (qt6ct does, once the event loop runs)
    // cannot reach the fixed layout.
    setPalette(designPalette());
    setFont(designFont());
    setAutoFillBackground(true);

    Label1 =
        place(new QLabel(QStringLiteral("Vennal"), this), "Label1", fromTwips(240, 120, 3975, 495));
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setAutoFillBackground(true);
    setColor(Label1, QPalette::Window, QColor(0x00, 0x80, 0x80));
    setColor(Label1, QPalette::WindowText, palette().color(QPalette::HighlightedText));
    QFont titleFont = designFont();
    titleFont.setPointSize(12);
    titleFont.setBold(true);
    Label1->setFont(titleFont);

    List1 = place(new QListWidget(this), "List1", fromTwips(240, 720, 3975, 1815));
    List1->setAccessibleName(QStringLiteral("saved passwords, newest first"));
    List1->installEventFilter(this);

    // Each box is only as large as its square, so its caption is the label beside it; that text
    // is also the box's accessible name, for screen readers.
    const auto addOption = [this](QCheckBox*& box, const char* boxName, QLabel*& label,
                                  const char* labelName, const QString& text, int top) {
        box = place(new QCheckBox(this), boxName, fromTwips(240, top, 255, 255));
        box->setChecked(true);
        box->setAccessibleName(text);
        label = place(new QLabel(text, this), labelName, fromTwips(720, top, 3255, 255));
    };
    addOption(Check1, "Check1", Label3, "Label3", QStringLiteral("allow caps A-Z"), 2640);
    addOption(Check3, "Check3", Label9, "Label9",
              QStringLiteral("allow special characters !@#$%^&*"), 3000);
    addOption(Check2, "Check2", Label4, "Label4", QStringLiteral("allow numbers 0-9"), 3360);
    addOption(Check4, "Check4", Label10, "Label10", QStringLiteral("must start with a letter"),
              3720);

    Label2 = place(new QLabel(QStringLiteral("7"), this), "Label2", fromTwips(240, 4080, 375, 375));
    Label2->setAlignment(Qt::AlignCenter);
    Label2->setAutoFillBackground(true);
    setColor(Label2, QPalette::Window, Qt::white);

    VScroll1 = place(new LengthSpinner(this), "VScroll1", fromTwips(720, 4080, 255, 375));
    VScroll1->setLength(7);
    VScroll1->setAccessibleName(QStringLiteral("length"));
    connect(VScroll1, &LengthSpinner::lengthChanged, this, &Form1::VScroll1_Change);

    Label5 = place(new QLabel(QStringLiteral("length"), this), "Label5",
                   fromTwips(1200, 4080, 2775, 255));

    // A push button does not wrap its caption, so the line break is given here; the accessible
    // name keeps the caption on one line.
    const QString generateCaption = QStringLiteral("Generate Password (copy to clipboard)");
    Command1 =
        place(new QPushButton(QStringLiteral("Generate Password\n(copy to clipboard)"), this),
              "Command1", fromTwips(240, 4560, 1815, 495));
    Command1->setAccessibleName(generateCaption);
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);

    Text1 = place(new QLineEdit(this), "Text1", fromTwips(2160, 4560, 1815, 495));
    Text1->setReadOnly(true);
    Text1->setAccessibleName(QStringLiteral("password"));
    Text1->installEventFilter(this);
    Text1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Text1, &QLineEdit::customContextMenuRequested, this, &Form1::showPasswordBoxMenu);

    Command2 = place(new QPushButton(QStringLiteral("Save"), this), "Command2",
                     fromTwips(240, 5160, 1815, 495));
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);

    Command3 = place(new QPushButton(QStringLiteral("Exit"), this), "Command3",
                     fromTwips(2160, 5160, 1815, 495));
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);

    for (QPushButton* button : {Command1, Command2, Command3}) {
        button->setAutoDefault(false);
        button->installEventFilter(this); // Return, Enter and Space press it once
    }

    Label7 = place(new QLabel(QStringLiteral("vennal 1.0"), this), "Label7",
                   fromTwips(240, 5760, 3735, 255));
}

void Form1::setFocusOrder() {
    // The order of the tab column; labels never take the focus.
    QWidget* const order[] = {Check1,   Check2,   VScroll1, Command1, Text1,
                              Command2, Command3, Check3,   Check4,   List1};
    for (std::size_t i = 1; i < std::size(order); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }
    Check1->setFocus();
}

void Form1::Form_Load() {
    SpecialChars = generator::standardSpecialChars();
    History.clear();
    const history::HistoryFile::Loaded loaded = historyFile_.read();
    if (!loaded.problem.empty()) {
        // The window is not shown yet: the person is told as soon as it is, not only at the
        // first Save that cannot be written.
        reports_.tellOnceShown(reports_.reportProblem(
            "The password history was not loaded from " + historyFile_.location(), loaded.problem,
            " Passwords you save now are not kept."));
    }
    History.load(loaded.entries);
    RefreshHistoryList();
    // Writes cut short left saves beside the file: the writer gives them back once the window
    // shows, and the list takes them in when it comes back.
    if (loaded.leftoversBeside) {
        reports_.giveBackLeftoversOnceShown();
    }
}

void Form1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    reports_.windowShown();
}

void Form1::closeUnattended() {
    reports_.stopRequested();
    // The window closes from the event loop, once the code that opened a box has finished.
    if (!unloaded_) {
        QTimer::singleShot(0, this, &QWidget::close);
    }
}

void Form1::closeEvent(QCloseEvent* event) {
    if (!unloaded_) {
        unloaded_ = true;
        Form_Unload();
    }
    // The window goes at once, whatever follows. The event itself is accepted only once the
    // history's last write has come back, so that the program ends after it, and a close that
    // loses saves can still be told.
    event->setAccepted(reports_.closeCameBack());
}

void Form1::Form_Unload() {
    hide();
    reports_.close();
}

void Form1::showGivenBack(const std::vector<std::string>& givenBack, std::size_t ownSavesAfter) {
    std::vector<std::string> entries = History.entries();
    const auto after = std::ptrdiff_t(std::min(ownSavesAfter, entries.size()));
    entries.insert(entries.end() - after, givenBack.begin(), givenBack.end());
    History.load(entries);
    RefreshHistoryList();
}

void Form1::RefreshHistoryList() {
    // Only a password's first characters fit the list; a hand-edited file may hold huge values.
    constexpr std::size_t LongestShown = 200;
    List1->clear();
    for (const std::string& entry : History.newest(3)) {
        const std::size_t shown = std::min(entry.size(), LongestShown);
        List1->addItem(QString::fromUtf8(entry.data(), qsizetype(shown)));
    }
}

// Return, keypad Enter and Space press the focused button, once, as the key goes down, however
// long it is held: each repeat of a held key on Save would save the same password again, pushing
// an older one out of the history. None of the buttons is the default: Return would then press it
// from anywhere. Copying by hand, from the password box or the list, goes through the same secret
// clipboard as Generate: the widgets' own copy would put the password there without the hint, and
// clipboard managers would keep it in their history.
bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease) {
        return QWidget::eventFilter(watched, event);
    }
    const auto* key = static_cast<QKeyEvent*>(event);
    auto* button = qobject_cast<QPushButton*>(watched);
    const bool pressKey =
        key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter || key->key() == Qt::Key_Space;
    if (button && pressKey && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        // Under X11 a held key repeats as a release and a press with the same timestamp, which Qt
        // does not always mark as a repeat; on Wayland Qt makes the repeats and marks them.
        ulong& releasedAt = keyReleasedAt_[key->key()];
        if (event->type() == QEvent::KeyRelease) {
            releasedAt = key->timestamp();
        } else if (!key->isAutoRepeat() && (releasedAt == 0 || key->timestamp() != releasedAt)) {
            button->click();
        }
        return true;
    }
    const bool copyKey = event->type() == QEvent::KeyPress && key->matches(QKeySequence::Copy);
    if (copyKey && watched == Text1) {
        copyFromPasswordBox();
        return true;
    }
    if (copyKey && watched == List1) {
        copyFromList();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::copyFromPasswordBox() {
    if (Text1->hasSelectedText()) {
        platform::copySecretToClipboard(Text1->selectedText());
    }
}

void Form1::copyFromList() {
    // The whole entry, not the possibly shortened text that the list shows.
    const int row = List1->currentRow();
    const std::vector<std::string> shown = History.newest(3);
    if (row >= 0 && row < int(shown.size())) {
        platform::copySecretToClipboard(QString::fromUtf8(shown[row]));
    }
}

void Form1::showPasswordBoxMenu(const QPoint& position) {
    QMenu menu;
    QAction* copy = menu.addAction(tr("&Copy"), this, &Form1::copyFromPasswordBox);
    copy->setEnabled(Text1->hasSelectedText());
    menu.addAction(tr("Select All"), Text1, &QLineEdit::selectAll);
    menu.exec(Text1->mapToGlobal(position));
}

void Form1::VScroll1_Change() {
    Label2->setText(QString::number(VScroll1->length()));
}

void Form1::Command1_Click() {
    const auto readRules = [this] {
        generator::Rules rules;
        rules.length = static_cast<std::int16_t>(VScroll1->length());
        rules.allowCaps = Check1->isChecked();
        rules.allowDigits = Check2->isChecked();
        rules.allowSpecialChars = Check3->isChecked();
        rules.mustStartWithLetter = Check4->isChecked();
        return rules;
    };
    CurrentPassword = generator::generatePassword(random_, SpecialChars, readRules);
    Text1->setText(QString::fromLatin1(CurrentPassword));
    platform::copySecretToClipboard(Text1->text());
}

void Form1::Command2_Click() {
    if (!History.save(CurrentPassword)) {
        return;
    }
    RefreshHistoryList();
    reports_.save(CurrentPassword);
}

void Form1::Command3_Click() {
    close();
}

} // namespace window
