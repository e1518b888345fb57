#pragma once

#include <QObject>

class QSocketNotifier;

namespace platform {

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal delivered on the event loop, so that the
// program closes its window, and writes its history, as it would for a person. SIGINT and
// SIGHUP are left ignored when the program was started with them ignored (nohup). Every signal is
// one more request: a second one (SIGHUP after SIGTERM at logout, say) must not kill the program
// halfway through writing the history, and must not be lost while a message box waits.
// Qt offers no portable way to do this; this is its documented self-pipe pattern. Make one
// instance only.
class ShutdownSignals : public QObject {
    Q_OBJECT
public:
    explicit ShutdownSignals(QObject* parent = nullptr);
    ~ShutdownSignals() override;

    // Until this is called, a stop ends the program at once, with status 0: while it starts
    // (reading the history, which a disk that never answers could hold for good) nothing is at
    // stake yet, and the event loop that would close the window is not running.
    void closeWindowFromNowOn();

signals:
    void shutdownRequested();

private:
    static void handleSignal(int number);
    void onSignalByte();

    int sockets_[2] = {-1, -1};
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace platform
