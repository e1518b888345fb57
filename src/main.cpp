#include "platform/FileHistoryStore.h"
#include "platform/ShutdownSignals.h"
#include "platform/SystemRandomSource.h"
#include "window/Appearance.h"
#include "window/Form1.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tavik"));
    QApplication::setDesktopFileName(QStringLiteral("tavik"));
    window::applyAppearance();

    // Installed before the history is read, so that a stop requested during start-up still
    // closes the window through its normal path.
    platform::ShutdownSignals shutdownSignals;
    platform::SystemRandomSource random;
    platform::FileHistoryStore historyStore(platform::FileHistoryStore::defaultPath());
    window::Form1 form(random, historyStore);
    QObject::connect(&shutdownSignals, &platform::ShutdownSignals::shutdownRequested, &form,
                     &window::Form1::closeUnattended);
    form.show();
    const int status = QApplication::exec();
    return form.historyKept() ? status : 1;
}
