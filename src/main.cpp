#include "CommandLine.h"
#include "platform/FileHistoryStore.h"
#include "platform/ProcessSetup.h"
#include "platform/ShutdownSignals.h"
#include "platform/SystemRandomSource.h"
#include "window/Appearance.h"
#include "window/Form1.h"
#include "window/TitleBar.h"
#include "window/WindowIcon.h"

#include <QApplication>

#include <cstdio>
#include <memory>
#include <system_error>

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

    // Installed before the history is read, so that a stop requested while it starts ends the
    // program at once, and one requested later closes the window through its normal path.
    platform::ShutdownSignals shutdownSignals;
    platform::SystemRandomSource random;
    platform::FileHistoryStore historyStore(platform::defaultHistoryLocation());
    std::unique_ptr<window::Form1> form;
    try {
        form = std::make_unique<window::Form1>(random, historyStore);
    } catch (const std::system_error& error) {
        // Every save is written on a thread of its own: without one, no save could be kept.
        // Nothing has been read or written yet.
        std::fprintf(stderr,
                     "tavik: cannot start: no thread could be made to write the password history "
                     "(%s). Nothing was changed. Close some programs, then start Tavik again.\n",
                     error.code().message().c_str());
        return 1;
    }
    QObject::connect(&shutdownSignals, &platform::ShutdownSignals::shutdownRequested, form.get(),
                     &window::Form1::closeUnattended);
    QObject::connect(form.get(), &window::Form1::closed, &app, &QApplication::quit);
    shutdownSignals.closeWindowFromNowOn();
    window::giveOwnTitleBarWhereQtWouldDrawOne(*form);
    form->show();
    const int status = QApplication::exec();
    return form->historyKept() ? status : 1;
}
