#include "platform/SystemRandomSource.h"
#include "window/Appearance.h"
#include "window/Form1.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tavik"));
    QApplication::setDesktopFileName(QStringLiteral("tavik"));
    window::applyAppearance();

    platform::SystemRandomSource random;
    window::Form1 form(random);
    form.show();
    return app.exec();
}
