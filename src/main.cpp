#include "CommandLine.h"
#include "platform/FileHistoryStore.h"
#include "platform/ProcessSetup.h"
#include "platform/ShutdownSignals.h"
#include "platform/SystemRandomSource.h"
#include "window/Appearance.h"
#include "window/Form1.h"
#include "window/WindowIcon.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char* argv[]) {
    platform::setUpProcess();
    if (const std::optional<int> status = handleInformationOptions(argc, argv)) {
        return *status;
    }
    if (!hasDisplay(argc, argv)) {
        std::fputs("tavik: no display to show the window on (neither DISPLAY nor WAYLAND_DISPLAY "
                   "is set); start it from your desktop session\n",
                   stderr);
        return 1;
    }
    QApplication app(argc, argv); // takes Qt's own options out of argv
    if (const std::optional<int> status = rejectUnknownArguments(argc, argv)) {
        return *status;
    }
    QApplication::setApplicationName(QStringLiteral("tavik"));
    QApplication::setDesktopFileName(QStringLiteral("tavik"));
    QApplication::setWindowIcon(window::windowIcon());
    window::applyAppearance();

    // Installed before the history is read, so that a stop requested during start-up still
    // closes the window through its normal path.
    platform::ShutdownSignals shutdownSignals;
    platform::SystemRandomSource random;
    platform::FileHistoryStore historyStore(platform::defaultHistoryLocation());
    window::Form1 form(random, historyStore);
    QObject::connect(&shutdownSignals, &platform::ShutdownSignals::shutdownRequested, &form,
                     &window::Form1::closeUnattended);
    QObject::connect(&form, &window::Form1::closed, &app, &QApplication::quit);
    form.show();
    const int status = QApplication::exec();
    return form.historyKept() ? status : 1;
}
