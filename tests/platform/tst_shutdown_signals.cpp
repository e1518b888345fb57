#include "platform/ShutdownSignals.h"

#include <QSignalSpy>
#include <QTest>

#include <csignal>

class ShutdownSignalsTest : public QObject {
    Q_OBJECT
private slots:
    void eachStopSignalBecomesOneRequestOnTheEventLoop() {
        for (int number : {SIGTERM, SIGINT, SIGHUP}) {
            platform::ShutdownSignals shutdown;
            shutdown.closeWindowFromNowOn(); // the window shows: a stop closes it
            QSignalSpy requested(&shutdown, &platform::ShutdownSignals::shutdownRequested);
            std::raise(number);
            QCOMPARE(requested.count(), 0); // not from inside the handler
            QTRY_COMPARE(requested.count(), 1);
            // A second signal, while the first is being handled, is one more request: it must
            // not kill the program before the history is written.
            std::raise(SIGHUP);
            QTRY_COMPARE(requested.count(), 2);
        }
        std::raise(SIGHUP); // once it is gone, as the program ends: ignored, not fatal
    }
};

QTEST_GUILESS_MAIN(ShutdownSignalsTest)
#include "tst_shutdown_signals.moc"
