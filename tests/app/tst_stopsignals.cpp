#include "app/stopsignals.h"

#include <QSignalSpy>
#include <QtTest>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

// SIGTERM and SIGINT as close requests, and the grace period after which a further one ends the
// process at once.
class TestStopSignals : public QObject
{
    Q_OBJECT

private slots:
    void signalsInTheGracePeriod_becomeStopRequests_data();
    void signalsInTheGracePeriod_becomeStopRequests();
    void signalAfterTheGracePeriod_endsTheProcessByThatSignal_data();
    void signalAfterTheGracePeriod_endsTheProcessByThatSignal();
};

void TestStopSignals::signalsInTheGracePeriod_becomeStopRequests_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestStopSignals::signalsInTheGracePeriod_becomeStopRequests()
{
    QFETCH(int, signalNumber);
    StopSignals stopSignals;
    QVERIFY(stopSignals.isActive());
    QSignalSpy spy(&stopSignals, &StopSignals::stopRequested);
    QVERIFY(spy.isValid());

    std::raise(signalNumber);
    std::raise(signalNumber);
    // Delivered on this thread by its event loop, not inside the handler.
    QCOMPARE(spy.count(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, 10000);
    QCOMPARE(spy.at(0).at(0).toInt(), signalNumber);
    QCOMPARE(spy.at(1).at(0).toInt(), signalNumber);
}

void TestStopSignals::signalAfterTheGracePeriod_endsTheProcessByThatSignal_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestStopSignals::signalAfterTheGracePeriod_endsTheProcessByThatSignal()
{
    QFETCH(int, signalNumber);
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        // A grace period of 0: the second signal already comes after it. Only the handler runs here.
        StopSignals stopSignals(0);
        std::raise(signalNumber);
        std::raise(signalNumber);
        ::_exit(stopSignals.isActive() ? 0 : 1);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY2(WIFSIGNALED(status), qPrintable(QStringLiteral("exited with %1").arg(WEXITSTATUS(status))));
    QCOMPARE(WTERMSIG(status), signalNumber);
}

QTEST_GUILESS_MAIN(TestStopSignals)
#include "tst_stopsignals.moc"
