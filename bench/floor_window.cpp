// The floor that the program's start-up is measured against: a bare Qt window with the same
// widgets at the same places, and nothing else (no history, no random source, no styling).
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QWidget>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Floor"));
    window.setFixedSize(314, 414);
    (new QLabel(QStringLiteral("Vennal"), &window))->setGeometry(16, 8, 265, 33);
    (new QListWidget(&window))->setGeometry(16, 48, 265, 121);
    const char* captions[] = {"allow caps A-Z", "allow special characters !@#$%^&*",
                              "allow numbers 0-9", "must start with a letter"};
    for (int i = 0; i < 4; ++i) {
        (new QCheckBox(&window))->setGeometry(16, 176 + 24 * i, 17, 17);
        (new QLabel(QString::fromLatin1(captions[i]), &window))
            ->setGeometry(48, 176 + 24 * i, 217, 17);
    }
    (new QLabel(QStringLiteral("7"), &window))->setGeometry(16, 272, 25, 25);
    (new QScrollBar(Qt::Vertical, &window))->setGeometry(48, 272, 17, 25);
    (new QLabel(QStringLiteral("length"), &window))->setGeometry(80, 272, 185, 17);
    (new QPushButton(QStringLiteral("Generate Password\n(copy to clipboard)"), &window))
        ->setGeometry(16, 304, 121, 33);
    (new QLineEdit(&window))->setGeometry(144, 304, 121, 33);
    (new QPushButton(QStringLiteral("Save"), &window))->setGeometry(16, 344, 121, 33);
    (new QPushButton(QStringLiteral("Exit"), &window))->setGeometry(144, 344, 121, 33);
    (new QLabel(QStringLiteral("vennal 1.0"), &window))->setGeometry(16, 384, 249, 17);
    window.show();
    return app.exec();
}
