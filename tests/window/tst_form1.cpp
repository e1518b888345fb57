#include "platform/SecretClipboard.h"
#include "platform/SystemRandomSource.h"
#include "support/MemoryHistoryStore.h"
#include "support/ScriptedRandomSource.h"
#include "support/SkippedClock.h"
#include "window/Appearance.h"
#include "window/Form1.h"
#include "window/LengthSpinner.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAccessibleValueInterface>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>

#include <QSignalSpy>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>
#include <future>

#include <cmath>
#include <functional>
#include <future>
#include <memory>

using window::LengthSpinner;

namespace {

// The WCAG contrast ratio of two colours, 1 to 21.
double contrast(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

} // namespace

class Form1Test : public QObject {
    Q_OBJECT
private:
    platform::SystemRandomSource random_;
    std::unique_ptr<MemoryHistoryStore> store_ = std::make_unique<MemoryHistoryStore>();
    std::unique_ptr<window::Form1> form_;
    QPalette applicationPalette_;
    QFont applicationFont_;

    void openForm(platform::RandomSource* random = nullptr) {
        form_ = std::make_unique<window::Form1>(random ? *random : random_, *store_);
        form_->show();
        QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    }

    QStringList listItems() {
        QStringList items;
        auto* list = control<QListWidget>("List1");
        for (int row = 0; row < list->count(); ++row) {
            items << list->item(row)->text();
        }
        return items;
    }

    template <typename T = QWidget> T* control(const char* name) {
        T* widget = form_->findChild<T*>(QLatin1String(name));
        if (!widget) {
            qFatal("no control %s", name);
        }
        return widget;
    }

    QString generate() {
        QTest::mouseClick(control<QPushButton>("Command1"), Qt::LeftButton);
        return control<QLineEdit>("Text1")->text();
    }

    // Answers the next message box that opens (by default: OK) and keeps its text. The timer is
    // stopped when the returned object goes, so it never fires after the test.
    std::unique_ptr<QTimer>
    answerMessageBox(QString& shownText,
                     std::function<void(QMessageBox*)> answer = &QMessageBox::accept) {
        auto timer = std::make_unique<QTimer>();
        QTimer* watching = timer.get();
        connect(watching, &QTimer::timeout, this, [&shownText, answer, watching] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                watching->stop();
                shownText = box->text();
                answer(box);
            }
        });
        timer->start(5);
        return timer;
    }

    // Clicks Save or Exit, and waits until its own write has come back: for Exit, the window
    // closed; for Save, the store's write returned and its report given time to reach the window.
    void clickAndWait(const char* button = "Command2") {
        QSignalSpy closed(form_.get(), &window::Form1::closed);
        const int returned = store_->returned();
        QTest::mouseClick(control<QPushButton>(button), Qt::LeftButton);
        if (qstrcmp(button, "Command3") == 0) {
            QVERIFY(closed.wait());
        } else {
            QTRY_VERIFY(store_->returned() > returned);
            QTest::qWait(200);
        }
    }
    void save() { clickAndWait(); }

    // Saves while every write fails for `reason`; returns what the message box said, if any.
    // What the program says on its standard error while `act` runs.
    static QString saidOnStandardError(const std::function<void()>& act) {
        int said[2];
        const int kept = ::dup(STDERR_FILENO);
        if (::pipe(said) != 0 || ::dup2(said[1], STDERR_FILENO) != STDERR_FILENO) {
            return "no pipe";
        }
        act();
        ::dup2(kept, STDERR_FILENO);
        ::close(kept);
        ::close(said[1]);
        QFile saidRead;
        saidRead.open(said[0], QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
        return QString(saidRead.readAll());
    }

    QString failedSave(const char* reason) {
        store_->fail(reason);
        QString shown;
        const auto answerer = answerMessageBox(shown);
        save();
        return shown;
    }

private slots:
    void initTestCase() {
        window::applyAppearance();
        applicationPalette_ = QApplication::palette();
        applicationFont_ = QApplication::font();
    }

    void init() {
        form_.reset();
        store_ = std::make_unique<MemoryHistoryStore>();
        openForm();
    }

    void cleanup() {
        form_.reset();
        QApplication::setPalette(applicationPalette_);
        QApplication::setFont(applicationFont_);
    }

    void startState() {
        QCOMPARE(form_->windowTitle(), QStringLiteral("Tavik"));
        QCOMPARE(form_->size(), QSize(314, 414));
        QCOMPARE(form_->minimumSize(), form_->maximumSize()); // not resizable
        QCOMPARE(form_->palette().color(QPalette::Window), QColor(0xE0, 0xE0, 0xE0));

        const std::pair<const char*, const char*> texts[] = {
            {"Label1", "Vennal"},
            {"Label3", "allow caps A-Z"},
            {"Label9", "allow special characters !@#$%^&*"},
            {"Label4", "allow numbers 0-9"},
            {"Label10", "must start with a letter"},
            {"Label2", "7"},
            {"Label5", "length"},
            {"Label7", "vennal 1.0"},
        };
        for (const auto& [name, text] : texts) {
            QCOMPARE(control<QLabel>(name)->text(), QString::fromUtf8(text));
        }
        QCOMPARE(control<QPushButton>("Command1")->accessibleName(),
                 QStringLiteral("Generate Password (copy to clipboard)"));
        QCOMPARE(control<QPushButton>("Command1")->text().count(QLatin1Char('\n')), 1);
        QCOMPARE(control<QPushButton>("Command2")->text(), QStringLiteral("Save"));
        QCOMPARE(control<QPushButton>("Command3")->text(), QStringLiteral("Exit"));
        for (const char* name : {"Command1", "Command2", "Command3"}) {
            QVERIFY(!control<QPushButton>(name)->isDefault());
            QVERIFY(!control<QPushButton>(name)->autoDefault());
        }

        const std::pair<const char*, const char*> boxes[] = {
            {"Check1", "allow caps A-Z"},
            {"Check2", "allow numbers 0-9"},
            {"Check3", "allow special characters !@#$%^&*"},
            {"Check4", "must start with a letter"},
        };
        for (const auto& [name, label] : boxes) {
            QVERIFY(control<QCheckBox>(name)->isChecked());
            QVERIFY(control<QCheckBox>(name)->text().isEmpty());
            QCOMPARE(control<QCheckBox>(name)->accessibleName(), QString::fromUtf8(label));
        }

        QCOMPARE(control<LengthSpinner>("VScroll1")->length(), 7);
        QVERIFY(!control("List1")->accessibleName().isEmpty());
        QVERIFY(control<QLineEdit>("Text1")->text().isEmpty());
        QVERIFY(control<QLineEdit>("Text1")->isReadOnly());
        QCOMPARE(control<QListWidget>("List1")->count(), 0);
    }

    void colorsAndFonts() {
        auto* title = control<QLabel>("Label1");
        QCOMPARE(title->palette().color(QPalette::Window), QColor(0x00, 0x80, 0x80));
        QCOMPARE(title->palette().color(QPalette::WindowText),
                 form_->palette().color(QPalette::HighlightedText));
        QVERIFY(title->autoFillBackground());
        QCOMPARE(title->font().pointSize(), 12);
        QCOMPARE(title->font().weight(), QFont::Bold);
        QCOMPARE(title->alignment(), Qt::AlignCenter);

        auto* lengthLabel = control<QLabel>("Label2");
        QCOMPARE(lengthLabel->palette().color(QPalette::Window), QColor(Qt::white));
        QVERIFY(lengthLabel->autoFillBackground());
        QCOMPARE(lengthLabel->alignment(), Qt::AlignCenter);
    }

    void geometry_data() {
        QTest::addColumn<QRect>("twips");
        const auto row = [](const char* name, int l, int t, int w, int h) {
            QTest::newRow(name) << QRect(l, t, w, h);
        };
        row("Label1", 240, 120, 3975, 495);
        row("List1", 240, 720, 3975, 1815);
        row("Check1", 240, 2640, 255, 255);
        row("Label3", 720, 2640, 3255, 255);
        row("Check3", 240, 3000, 255, 255);
        row("Label9", 720, 3000, 3255, 255);
        row("Check2", 240, 3360, 255, 255);
        row("Label4", 720, 3360, 3255, 255);
        row("Check4", 240, 3720, 255, 255);
        row("Label10", 720, 3720, 3255, 255);
        row("Label2", 240, 4080, 375, 375);
        row("VScroll1", 720, 4080, 255, 375);
        row("Label5", 1200, 4080, 2775, 255);
        row("Command1", 240, 4560, 1815, 495);
        row("Text1", 2160, 4560, 1815, 495);
        row("Command2", 240, 5160, 1815, 495);
        row("Command3", 2160, 5160, 1815, 495);
        row("Label7", 240, 5760, 3735, 255);
    }

    void geometry() {
        QFETCH(QRect, twips);
        const QRect pixels(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15);
        QCOMPARE(control(QTest::currentDataTag())->geometry(), pixels);
    }

    void everyCaptionFitsItsBoxAndEveryTextStandsOut_data() {
        QTest::addColumn<bool>("darkTheme");
        QTest::newRow("default theme") << false;
        QTest::newRow("dark theme, large font") << true;
    }

    void everyCaptionFitsItsBoxAndEveryTextStandsOut() {
        QFETCH(bool, darkTheme);
        if (darkTheme) {
            // A platform theme's palette and font, applied before the window is made, and a
            // larger font again once it runs.
            form_.reset();
            QPalette dark(Qt::white, QColor(0x40, 0x40, 0x40), QColor(0x60, 0x60, 0x60),
                          QColor(0x20, 0x20, 0x20), QColor(0x30, 0x30, 0x30), Qt::white, Qt::white,
                          QColor(0x1E, 0x1E, 0x1E), QColor(0x35, 0x35, 0x35));
            dark.setColor(QPalette::HighlightedText, QColor(0x20, 0x20, 0x20));
            QApplication::setPalette(dark);
            QApplication::setFont(QFont(QStringLiteral("DejaVu Serif"), 14));
            openForm();
            QApplication::setFont(QFont(QStringLiteral("DejaVu Serif"), 20));
            QCoreApplication::processEvents();
        }
        const std::pair<QPalette::ColorRole, QPalette::ColorRole> textOnBackground[] = {
            {QPalette::WindowText, QPalette::Window},
            {QPalette::Text, QPalette::Base},
            {QPalette::ButtonText, QPalette::Button},
            {QPalette::HighlightedText, QPalette::Highlight},
        };
        QList<QWidget*> widgets = form_->findChildren<QWidget*>();
        widgets << form_.get();
        for (QWidget* widget : widgets) {
            for (const auto& [text, background] : textOnBackground) {
                const double ratio =
                    contrast(widget->palette().color(text), widget->palette().color(background));
                QVERIFY2(ratio >= 4.5, qPrintable(QStringLiteral("%1: %2 on %3 is %4:1")
                                                      .arg(widget->objectName())
                                                      .arg(text)
                                                      .arg(background)
                                                      .arg(ratio)));
            }
        }
        for (QLabel* label : form_->findChildren<QLabel*>()) {
            const QFontMetrics metrics(label->font());
            QVERIFY2(metrics.horizontalAdvance(label->text()) <= label->width(),
                     qPrintable(label->objectName()));
            QVERIFY2(metrics.height() <= label->height(), qPrintable(label->objectName()));
        }
        for (QPushButton* button : form_->findChildren<QPushButton*>()) {
            // The text must fit the area inside the button's frame that the style draws it in.
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = button->text();
            const QRect contents =
                button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
            const QRect text = button->fontMetrics().boundingRect(
                contents, Qt::AlignCenter | Qt::TextShowMnemonic, button->text());
            QVERIFY2(contents.contains(text), qPrintable(QStringLiteral("%1: text %2x%3 in %4x%5")
                                                             .arg(button->objectName())
                                                             .arg(text.width())
                                                             .arg(text.height())
                                                             .arg(contents.width())
                                                             .arg(contents.height())));
        }
    }

    void focusFollowsTheTabOrder() {
        form_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form_.get()));
        control("Check1")->setFocus();
        const char* expected[] = {"Check1",   "Check2", "VScroll1", "Command1", "Text1", "Command2",
                                  "Command3", "Check3", "Check4",   "List1",    "Check1"};
        for (const char* name : expected) {
            QCOMPARE(QApplication::focusWidget()->objectName(), QLatin1String(name));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
    }

    void spinnerStopsAtItsEndsAndTheLabelFollows() {
        auto* spinner = control<LengthSpinner>("VScroll1");
        auto* label = control<QLabel>("Label2");
        spinner->setFocus();
        QTest::keyClick(spinner, Qt::Key_Up);
        QCOMPARE(spinner->length(), 8);
        QCOMPARE(label->text(), QStringLiteral("8"));
        for (int i = 0; i < 10; ++i) {
            QTest::keyClick(spinner, Qt::Key_Up);
        }
        QCOMPARE(spinner->length(), 12);
        QCOMPARE(label->text(), QStringLiteral("12"));
        for (int i = 0; i < 10; ++i) {
            QTest::keyClick(spinner, Qt::Key_Down);
        }
        QCOMPARE(spinner->length(), 5);
        QCOMPARE(label->text(), QStringLiteral("5"));
        QTest::keyClick(spinner, Qt::Key_PageUp);
        QCOMPARE(spinner->length(), 6);
        QTest::keyClick(spinner, Qt::Key_Home);
        QCOMPARE(spinner->length(), 12);
        QTest::keyClick(spinner, Qt::Key_End);
        QCOMPARE(label->text(), QStringLiteral("5"));
    }

    void theSpinnerTellsScreenReadersTheLength() {
        auto* spinner = control<LengthSpinner>("VScroll1");
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(spinner);
        QVERIFY(accessible && accessible->valueInterface() && accessible->actionInterface());
        QAccessibleValueInterface* value = accessible->valueInterface();
        QCOMPARE(accessible->text(QAccessible::Name), QStringLiteral("length"));
        QCOMPARE(value->currentValue().toInt(), 7);
        QCOMPARE(accessible->text(QAccessible::Value), QStringLiteral("7"));
        QCOMPARE(value->minimumValue().toInt(), 5);
        QCOMPARE(value->maximumValue().toInt(), 12);

        // Each action moves the length the way its name says.
        for (const auto& [action, step] :
             {std::pair(QAccessibleActionInterface::increaseAction(), 1),
              std::pair(QAccessibleActionInterface::decreaseAction(), -1)}) {
            const int before = spinner->length();
            accessible->actionInterface()->doAction(action);
            QCOMPARE(spinner->length(), before + step);
        }
        value->setCurrentValue(6);
        QCOMPARE(spinner->length(), 6);
        QCOMPARE(control<QLabel>("Label2")->text(), QStringLiteral("6"));

        // On each change a reader is told the value changed, and reads it here.
        spinner->setFocus();
        QTest::keyClick(spinner, Qt::Key_Up);
        QCOMPARE(value->currentValue().toInt(), 7);
    }

    void theSpinnerShowsWhenItHasTheFocus() {
        form_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form_.get()));
        auto* spinner = control<LengthSpinner>("VScroll1");
        control("Check1")->setFocus();
        const QImage plain = spinner->grab().toImage();
        spinner->setFocus();
        const QImage focused = spinner->grab().toImage();
        const QColor background = form_->palette().color(QPalette::Window);
        int changed = 0;
        for (int y = 0; y < focused.height(); ++y) {
            for (int x = 0; x < focused.width(); ++x) {
                if (focused.pixel(x, y) != plain.pixel(x, y)) {
                    ++changed;
                    QVERIFY2(contrast(focused.pixelColor(x, y), background) >= 3.0,
                             qPrintable(QStringLiteral("(%1, %2)").arg(x).arg(y)));
                }
            }
        }
        QVERIFY(changed >= spinner->width()); // a frame, not a speck
    }

    void returnAndEnterPressTheFocusedButton() {
        auto* text = control<QLineEdit>("Text1");
        control("Command1")->setFocus();
        QTest::keyClick(control("Command1"), Qt::Key_Return);
        const QString password = text->text();
        QCOMPARE(password.size(), 7);
        QTest::keyClick(control("Command2"), Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(listItems(), QStringList{password});
        // A held key repeats: that is still one press, not a Save each time.
        QTest::keyPress(control("Command2"), Qt::Key_Return);
        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(control("Command2"), &repeat);
        QCOMPARE(listItems(), (QStringList{password, password}));
        // Return elsewhere presses nothing: no button is the default.
        QTest::keyClick(control("Check1"), Qt::Key_Return);
        QCOMPARE(text->text(), password);
        QTest::keyClick(control("Command3"), Qt::Key_Return);
        QVERIFY(!form_->isVisible());
    }

    // Each box's own effect: the same draws, with only that box cleared, give another password.
    void eachBoxAllowsItsOwnClass_data() {
        QTest::addColumn<QString>("box");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("whenChecked");
        QTest::addColumn<QString>("whenCleared");
        QTest::newRow("caps") << "Check1" << int('A') << "Aaaaa"
                              << "aaaaa";
        QTest::newRow("numbers") << "Check2" << int('5') << "5aaaa"
                                 << "aaaaa";
        QTest::newRow("specials") << "Check3" << int('!') << "!aaaa"
                                  << "aaaaa";
        QTest::newRow("start letter") << "Check4" << int('5') << "aaaaa"
                                      << "5aaaa";
    }

    void eachBoxAllowsItsOwnClass() {
        QFETCH(QString, box);
        QFETCH(int, code);
        QFETCH(QString, whenChecked);
        QFETCH(QString, whenCleared);
        for (const bool checked : {true, false}) {
            const std::int16_t a = 'a';
            ScriptedRandomSource random({std::int16_t(code), a, a, a, a, a});
            openForm(&random);
            control<LengthSpinner>("VScroll1")->setLength(5);
            // The first character is free unless the row is about the start rule.
            control<QCheckBox>("Check4")->setChecked(box == QLatin1String("Check4"));
            form_->findChild<QCheckBox*>(box)->setChecked(checked);
            QCOMPARE(generate(), checked ? whenChecked : whenCleared);
        }
    }

    void spinnerUpperArrowRaisesTheLength() {
        auto* spinner = control<LengthSpinner>("VScroll1");
        QTest::mouseClick(spinner, Qt::LeftButton, {}, QPoint(spinner->width() / 2, 2));
        QCOMPARE(spinner->length(), 8);
        QTest::mouseClick(spinner, Qt::LeftButton, {},
                          QPoint(spinner->width() / 2, spinner->height() - 3));
        QTest::mouseClick(spinner, Qt::LeftButton, {},
                          QPoint(spinner->width() / 2, spinner->height() - 3));
        QCOMPARE(spinner->length(), 6);
        QCOMPARE(control<QLabel>("Label2")->text(), QStringLiteral("6"));
    }

    void generateFillsTheBoxAndTheClipboardWithTheSameSecret() {
        const QString password = generate();
        QVERIFY2(QRegularExpression(QStringLiteral("^[a-zA-Z][a-zA-Z0-9!#$%&@*^]{6}$"))
                     .match(password)
                     .hasMatch(),
                 qPrintable(password));
        const QMimeData* data = QGuiApplication::clipboard()->mimeData();
        QVERIFY(data);
        QCOMPARE(data->text(), password);
        QCOMPARE(data->data(platform::PasswordManagerHintType), QByteArray("secret"));

        // A second press replaces the password; it follows the length shown.
        control<LengthSpinner>("VScroll1")->setLength(12);
        const QString second = generate();
        QCOMPARE(second.size(), 12);
        QCOMPARE(QGuiApplication::clipboard()->text(), second);
    }

    void exitClosesTheWindowAndWritesTheHistory() {
        QTest::mouseClick(control<QPushButton>("Command3"), Qt::LeftButton);
        QVERIFY(!form_->isVisible());
        QTRY_COMPARE(store_->tries(), 1);
    }

    void saveBeforeAnyGenerateChangesNothing() {
        QTest::mouseClick(control<QPushButton>("Command2"), Qt::LeftButton);
        QCOMPARE(control<QListWidget>("List1")->count(), 0);
        form_->close();
        QCOMPARE(store_->bytes(), std::string());
    }

    void savedPasswordsShowNewestFirstAndSurviveARestart() {
        const QString first = generate();
        save();
        QCOMPARE(listItems(), QStringList{first});
        QCOMPARE(QString::fromStdString(store_->bytes()), QStringLiteral("\"%1\"\r\n").arg(first));

        // Save stores the generated password, whatever the box shows meanwhile.
        const QString second = generate();
        control<QLineEdit>("Text1")->setText(QStringLiteral("typed over"));
        QTest::mouseClick(control<QPushButton>("Command2"), Qt::LeftButton);
        QTest::mouseClick(control<QPushButton>("Command2"), Qt::LeftButton);
        QCOMPARE(listItems(), (QStringList{second, second, first}));

        const QString third = generate();
        QTest::mouseClick(control<QPushButton>("Command2"), Qt::LeftButton);
        QCOMPARE(listItems(), (QStringList{third, second, second}));

        clickAndWait("Command3");
        QCOMPARE(
            QString::fromStdString(store_->bytes()),
            QStringLiteral("\"%1\"\r\n\"%2\"\r\n\"%2\"\r\n\"%3\"\r\n").arg(first, second, third));
        openForm();
        QCOMPARE(listItems(), (QStringList{third, second, second}));
    }

    // Saves given back from a leftover join the list where the file has them: after this run's
    // saves already written, before those the same write carried. An empty record is not a save.
    void givenBackSavesShowWhereTheFileHasThem() {
        const QString first = generate();
        save();
        store_->locked([this] {
            store_->stored.leftovers = {{"left", "\"given\"\r\n\"\"\r\n", 2, {}, "left"}};
        });
        const QString second = generate();
        save();
        QCOMPARE(QString::fromStdString(store_->bytes()),
                 QStringLiteral("\"%1\"\r\n\"given\"\r\n\"%2\"\r\n").arg(first, second));
        QCOMPARE(listItems(), (QStringList{second, "given", first}));
    }

    void copyingByHandKeepsTheSecretHint() {
        const QString password = generate();
        QTest::mouseClick(control<QPushButton>("Command2"), Qt::LeftButton);
        QGuiApplication::clipboard()->setText(QStringLiteral("something else"));

        auto* list = control<QListWidget>("List1");
        list->setFocus();
        list->setCurrentRow(0);
        QTest::keySequence(list, QKeySequence::Copy);
        QCOMPARE(QGuiApplication::clipboard()->text(), password);
        QCOMPARE(QGuiApplication::clipboard()->mimeData()->data(platform::PasswordManagerHintType),
                 QByteArray("secret"));

        QGuiApplication::clipboard()->setText(QStringLiteral("something else"));
        auto* box = control<QLineEdit>("Text1");
        box->setFocus();
        box->setSelection(1, 3);
        QTest::keySequence(box, QKeySequence::Copy);
        QCOMPARE(QGuiApplication::clipboard()->text(), password.mid(1, 3));
        QCOMPARE(QGuiApplication::clipboard()->mimeData()->data(platform::PasswordManagerHintType),
                 QByteArray("secret"));
    }

    void aCloseIsToldInTheWindowOnlyWhenItLosesSaves() {
        // Nothing pending: the file is left as it was, with no alarm and no failure status.
        store_->failWith = "the history is locked by another program";
        QString shown;
        auto answerer = answerMessageBox(shown);
        clickAndWait("Command3");
        QVERIFY2(shown.isEmpty(), qPrintable(shown));
        QVERIFY(form_->historyKept());
        QCOMPARE(store_->lockWait, history::HistoryFile::SaveLockWait); // nobody kept waiting

        // A failed save is told; the close that then loses it is told again all the same.
        answerer.reset();
        openForm();
        generate();
        QVERIFY(!failedSave("the history is locked by another program").isEmpty());
        answerer = answerMessageBox(shown);
        clickAndWait("Command3");
        QCOMPARE(shown, QStringLiteral("The password history was not saved to memory: the "
                                       "history is locked by another program. 1 saved "
                                       "password(s) were only in memory: they are lost."));
        QVERIFY(!form_->isVisible()); // and closes all the same
        QVERIFY(!form_->historyKept());
        QCOMPARE(store_->lockWait, history::HistoryFile::CloseLockWait);
    }

    void aStopRequestWritesTheHistoryWithoutAsking() {
        generate();
        failedSave("No space left on device");
        QString shown;
        const auto answerer = answerMessageBox(shown);
        form_->closeUnattended();
        QTRY_VERIFY(!form_->historyKept());
        QVERIFY2(shown.isEmpty(), qPrintable(shown));
        QCOMPARE(store_->updates, 2); // the save, then the close
    }

    // A disk that stops answering during the close: the person is asked after 10 s of its
    // silence, asked again 10 s after Wait, and Quit ends the program through the writer; with
    // no save at stake, the close ends 10 s into the silence unasked. Should the disk answer, or
    // a stop come, while the person is asked, the question goes by itself. The seconds are
    // skipped on the test's clock; the short waits between let the close be watched.
    void aSilentDiskIsAskedAboutAgainAfterWait_data() {
        QTest::addColumn<bool>("aSaveAtStake");
        QTest::addColumn<QString>("whileAsked"); // what comes in place of an answer
        QTest::newRow("a save at stake") << true << QString();
        QTest::newRow("nothing at stake") << false << QString();
        QTest::newRow("the disk answers while asked") << true << "the disk answers";
        QTest::newRow("a stop while asked") << true << "a stop";
    }
    void aSilentDiskIsAskedAboutAgainAfterWait() {
        QFETCH(bool, aSaveAtStake);
        QFETCH(QString, whileAsked);
        const bool diskAnswers = whileAsked == "the disk answers";
#ifdef __SANITIZE_THREAD__
        QSKIP("ThreadSanitizer does not follow this test's child process");
#endif
        if (!qEnvironmentVariableIsSet("FORM1_CHILD")) {
            // The program ends for real: in a child process, this row alone.
            QProcess child;
            qputenv("FORM1_CHILD", "1");
            child.start(
                QCoreApplication::applicationFilePath(),
                {QString("aSilentDiskIsAskedAboutAgainAfterWait:") + QTest::currentDataTag()});
            qunsetenv("FORM1_CHILD");
            QVERIFY(child.waitForFinished(60000));
            const QString out = child.readAllStandardOutput();
            const QStringList said = QString(child.readAllStandardError())
                                         .split('\n')
                                         .filter(QRegularExpression("^tavik: "));
            QVERIFY2(!out.contains("FAIL!"), qPrintable(out));
            const QString lost = "the disk has not confirmed the write of 1 saved password(s) to "
                                 "memory: what it wrote is beside the file, and the next start "
                                 "finishes it.";
            const QString words =
                "asked: The disk has not answered for %1 seconds.\\n\\nYou may wait for it, or "
                "quit now: " +
                lost;
            QCOMPARE(out.split('\n').filter(QRegularExpression("^asked: ")),
                     (!aSaveAtStake          ? QStringList()
                      : whileAsked.isEmpty() ? QStringList{words.arg(10), words.arg(20)}
                                             : QStringList{words.arg(10)}));
            QCOMPARE(child.exitCode(), diskAnswers ? 0 : aSaveAtStake ? 1 : 0);
            QCOMPARE(said, diskAnswers
                               ? QStringList()
                               : QStringList{"tavik: ending without waiting for the disk "
                                             "any longer: " +
                                             (aSaveAtStake ? lost : "no saved password is lost.")});
            return;
        }
        std::promise<void> opening;
        std::atomic<bool> writing = false;
        store_->whileWriting = [open = opening.get_future().share(), &writing] {
            writing = true;
            open.wait();
        };
        store_->holdBytes("old\n"); // not in the program's format: the close rewrites it
        if (aSaveAtStake) {
            generate();
            QTest::mouseClick(control<QPushButton>("Command2"), Qt::LeftButton);
        }
        QSignalSpy closed(form_.get(), &window::Form1::closed);
        QTest::mouseClick(control<QPushButton>("Command3"), Qt::LeftButton);
        int asked = 0;
        QTimer answering;
        connect(&answering, &QTimer::timeout, this, [&, sightings = 0]() mutable {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box && (whileAsked.isEmpty() || ++sightings == 1)) {
                std::printf("asked: %s\n", qPrintable(box->text().replace('\n', "\\n")));
                std::fflush(stdout);
                ++asked;
            }
            if (box && whileAsked.isEmpty()) {
                for (QAbstractButton* button : box->buttons()) {
                    button->text() == (asked == 1 ? "Wait" : "Quit") ? button->click() : void();
                }
            } else if (box && sightings == 1) {
                diskAnswers ? opening.set_value() : form_->closeUnattended();
            } else if (box && sightings == 40) { // 2 s on, still there: fails, and goes
                std::printf("asked: still asked\n");
                box->reject();
            }
        });
        answering.start(50);
        QTRY_VERIFY(writing); // the silence is counted from here
        for (const int timesAsked : {1, 2}) {
            skipAhead(std::chrono::seconds(9));
            QTest::qWait(300);
            QCOMPARE(asked, timesAsked - 1);
            skipAhead(std::chrono::milliseconds(700));
            if (!aSaveAtStake) {
                break;
            }
            QTRY_COMPARE(asked, timesAsked);
            if (!whileAsked.isEmpty()) {
                break;
            }
        }
        if (diskAnswers) {
            QTRY_COMPARE(closed.count(), 1); // the close came back, and the program goes on
            return;
        }
        QTest::qWait(10000);
        QFAIL("the program did not end");
    }

    void aFailedSaveIsToldOnceAndAStopClosesAnOpenBox() {
        generate();
        const char* noSpace = "No space left on device";
        QVERIFY(failedSave(noSpace).contains(QLatin1String(noSpace)));
        // The fault goes on, for the same reason or others in turn: not told again in a box;
        // standard error hears each reason once.
        const QString said = saidOnStandardError([&] {
            for (const char* reason : {noSpace, "Input/output error", noSpace}) {
                QVERIFY(failedSave(reason).isEmpty());
            }
        });
        QCOMPARE(said, "tavik: The password just saved was not written to memory: Input/output "
                       "error. It is kept and retried every few seconds until it is written.\n");
        // Once a Save has worked, a failure is news again; a stop request meanwhile closes the
        // box and the window.
        store_->fail({});
        save();
        store_->fail("Read-only file system");
        QString shown;
        const auto answerer =
            answerMessageBox(shown, [this](QMessageBox*) { form_->closeUnattended(); });
        save();
        QVERIFY2(shown.contains(QLatin1String("Read-only file system")), qPrintable(shown));
        QTRY_VERIFY(!form_->historyKept());
    }

    void aKeptSaveIsRetriedQuietlyAndWrittenOnceTheFaultClears() {
        const QString password = generate();
        QCOMPARE(failedSave("Read-only file system"),
                 QStringLiteral("The password just saved was not written to memory: Read-only "
                                "file system. It is kept and retried every few seconds until it "
                                "is written."));
        QString shown;
        const auto answerer = answerMessageBox(shown);
        QTRY_VERIFY_WITH_TIMEOUT(store_->tries() >= 2, 5000); // retried on its own
        QVERIFY2(shown.isEmpty(), qPrintable(shown));         // without telling it again
        store_->fail({});
        QTRY_COMPARE_WITH_TIMEOUT(QString::fromStdString(store_->bytes()),
                                  QStringLiteral("\"%1\"\r\n").arg(password), 5000);
    }

    // What goes wrong with the history at start is told in the window once it shows: a file that
    // cannot be read, a write cut short that cannot be read whole, one that cannot be given back.
    void whatGoesWrongAtStartIsToldInTheWindow_data() {
        QTest::addColumn<QString>("told");
        QTest::newRow("unreadable") << "The password history was not loaded from memory: it could "
                                       "not be read (Permission denied). Passwords you save now "
                                       "are not kept.";
        QTest::newRow("torn") << "left, left by a write cut short, holds 1 saved password(s) that "
                                 "could not be given back: it is torn, or not in the history's "
                                 "format: copy what you need into the history, then remove it.";
        QTest::newRow("not given back")
            << "The passwords saved by a write cut short were not "
               "written back to memory: No space left on device. "
               "They stay beside it, and a later write gives them back.";
    }
    void whatGoesWrongAtStartIsToldInTheWindow() {
        QFETCH(QString, told);
        form_.reset();
        if (QTest::currentDataTag() == QByteArray("unreadable")) {
            store_->stored.state = platform::StoredHistory::State::Unreadable;
            store_->stored.problem = "Permission denied";
        } else {
            store_->stored.leftovers = {{"left", "\"a\"\r\n\"b", 1, {}, "left"}};
            store_->failWith = told.contains("No space") ? "No space left on device" : "";
        }
        QString shown;
        const auto answerer = answerMessageBox(shown);
        openForm();
        QTRY_COMPARE(shown, told);
        shown.clear(); // and told once: not again when the window is shown again
        const auto again = answerMessageBox(shown);
        form_->hide();
        form_->show();
        QTest::qWait(200);
        QCOMPARE(shown, QString());
    }
};

QTEST_MAIN(Form1Test)
#include "tst_form1.moc"
