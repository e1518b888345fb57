#pragma once

#include <QObject>

class QSocketNotifier;

namespace platform {

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal delivered on the event loop, so that the
// program closes its window, and writes its history, as it would for a person. A second such
// signal, once the first has been delivered, ends the program at once as usual.
// Qt offers no portable way to do this; this is its documented self-pipe pattern. Make one
// instance only.
class ShutdownSignals : public QObject {
    Q_OBJECT
public:
    explicit ShutdownSignals(QObject* parent = nullptr);
    ~ShutdownSignals() override;

signals:
    void shutdownRequested();

private:
    static void handleSignal(int number);
    void onSignalByte();

    int sockets_[2] = {-1, -1};
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace platform
