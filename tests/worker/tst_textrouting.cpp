#include "tests/common/ptypeer.h"
#include "worker/serialworker.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

QStringList debugLines;

void collectDebug(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg)
        debugLines << message;
}

QString joined(const QSignalSpy &spy)
{
    QString text;
    for (const QList<QVariant> &args : spy)
        text += args.at(0).toString();
    return text;
}

} // namespace

// Routing of the running application's text to the Terminal and FOD panes and the FOD capture,
// against a scripted far end that prints exactly the bytes each test needs.
class TestTextRouting : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { registerCrossThreadTypes(); }
    void init();
    void cleanup();

    void terminal_showsTextUpToZeroByte();
    void switchToTerminal_discardsWaitingBytesAndSendsLineEnd();
    void unknownTab_keepsRouting();
    void capture_onlyWhileCapturing_andLinesJoinAcrossReads();
    void capture_mixedLineEnds_allSeparateLines();
    void capture_stopKeepsTextAndCalculationUsesIt();
    void calculation_withEmptyCapture_fails_data();
    void calculation_withEmptyCapture_fails();
    void gainButtons_sendSingleDigitsOnly();

private:
    int xmcRowsParsed();
    void openOnTab(int tab);

    PtyPeer *peer = nullptr;
    SerialWorker *worker = nullptr;
    QSignalSpy *terminal = nullptr;
    QSignalSpy *fod = nullptr;
    QSignalSpy *gains = nullptr;
    QtMessageHandler previousHandler = nullptr;
};

void TestTextRouting::init()
{
    peer = new PtyPeer;
    QVERIFY(peer->isOpen());
    worker = new SerialWorker;
    terminal = new QSignalSpy(worker, &SerialWorker::terminalOutputMessage);
    fod = new QSignalSpy(worker, &SerialWorker::fodOutputMessage);
    gains = new QSignalSpy(worker, &SerialWorker::gainCalculationStatus);
    debugLines.clear();
    previousHandler = qInstallMessageHandler(collectDebug);
}

void TestTextRouting::cleanup()
{
    qInstallMessageHandler(previousHandler);
    delete gains;
    delete fod;
    delete terminal;
    delete worker;
    delete peer;
}

void TestTextRouting::openOnTab(int tab)
{
    // Choosing the tab first keeps board detection off the line.
    worker->tabIndexChanged(tab);
    QSignalSpy connected(worker, &SerialWorker::connectCOMPortResponse);
    worker->connectCOMPortRequest(peer->portName());
    QCOMPARE(connected.count(), 1);
    QVERIFY(connected.at(0).at(0).toBool());
}

int TestTextRouting::xmcRowsParsed()
{
    debugLines.clear();
    worker->fodCalculateGains(FOD_BOARD_XMC);
    const QStringList total = debugLines.filter(QRegularExpression("^Total size of fod Data is \\d+$"));
    if (total.size() != 1)
        return -1;
    return total.first().section(' ', -1).toInt();
}

void TestTextRouting::terminal_showsTextUpToZeroByte()
{
    openOnTab(1);
    peer->send(QByteArray("hello\0world", 11));
    QTRY_VERIFY_WITH_TIMEOUT(!terminal->isEmpty(), 3000);
    QCOMPARE(terminal->takeFirst().at(0).toString(), QStringLiteral("hello"));
    peer->send("Gr\xC3\xBC\xC3\x9F"
               "e\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(!terminal->isEmpty(), 3000);
    QCOMPARE(terminal->takeFirst().at(0).toString(), QString::fromUtf8("Grüße\r\n"));
}

void TestTextRouting::switchToTerminal_discardsWaitingBytesAndSendsLineEnd()
{
    openOnTab(2); // FOD tab, not capturing: nothing is read
    peer->send("stale text\r\n");
    QTest::qWait(200);
    QVERIFY(fod->isEmpty());
    worker->tabIndexChanged(1);
    QCOMPARE(terminal->count(), 1);
    QCOMPARE(terminal->takeFirst().at(0).toString(), QStringLiteral("\r\n"));
    peer->send("fresh\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(!terminal->isEmpty(), 3000);
    QTest::qWait(100);
    QCOMPARE(joined(*terminal), QStringLiteral("fresh\r\n"));
}

void TestTextRouting::unknownTab_keepsRouting()
{
    openOnTab(1);
    worker->tabIndexChanged(3);
    worker->tabIndexChanged(-1);
    peer->send("still here\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(!terminal->isEmpty(), 3000);
    QCOMPARE(joined(*terminal), QStringLiteral("still here\r\n"));
}

void TestTextRouting::capture_onlyWhileCapturing_andLinesJoinAcrossReads()
{
    openOnTab(2);
    peer->send("2 1 1 1 1 1 1\r\n"); // waits in the port; starting the capture throws it away
    QTest::qWait(150);
    worker->fodCaptureControl(true);
    peer->send("2 10 20 3");
    QTRY_VERIFY_WITH_TIMEOUT(!fod->isEmpty(), 3000);
    QTest::qWait(150);
    peer->send("0 40 50 60\r\n2 1 2 3 4 5 6\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(joined(*fod), QStringLiteral("2 10 20 30 40 50 60\r\n2 1 2 3 4 5 6\r\n"), 3000);
    QVERIFY(fod->count() >= 2);
    worker->fodCaptureControl(false);
    QCOMPARE(fod->last().at(0).toString(), QStringLiteral("\r\n"));

    // Two rows, both of gain 2: the XMC fit stops at the missing gains after counting them.
    QCOMPARE(xmcRowsParsed(), 2);
    QCOMPARE(gains->count(), 1);
    QCOMPARE(gains->at(0).at(0).toBool(), false);
}

void TestTextRouting::capture_mixedLineEnds_allSeparateLines()
{
    openOnTab(2);
    worker->fodCaptureControl(true);
    peer->send(
        "2 1 1 1 1 1 1\r3 1 1 1 1 1 1\n4 1 1 1 1 1 1\r\n\r\n2 a b c d e f\n\n8 1 2 3 4 5 6 7\r\nx = 1 2 3 4 5 6\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(joined(*fod).endsWith("x = 1 2 3 4 5 6\r\n"), 3000);
    // Four rows of seven pieces; eight pieces and the line with "=" are skipped.
    QCOMPARE(xmcRowsParsed(), 4);
}

void TestTextRouting::capture_stopKeepsTextAndCalculationUsesIt()
{
    openOnTab(2);
    worker->fodCaptureControl(true);
    peer->send("2 1 1 1 1 1 1\r\n3 1 1 1 1 1 1\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(joined(*fod).endsWith("3 1 1 1 1 1 1\r\n"), 3000);
    worker->fodCaptureControl(false);
    peer->send("4 1 1 1 1 1 1\r\n"); // not captured: the capture is off
    QTest::qWait(150);
    QCOMPARE(xmcRowsParsed(), 2);
    QVERIFY(joined(*fod).contains("Gain value is missing from collected data!\r\n"));

    // A new capture starts from nothing.
    worker->fodCaptureControl(true);
    peer->send("4 1 1 1 1 1 1\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(joined(*fod).endsWith("4 1 1 1 1 1 1\r\n"), 3000);
    fod->clear();
    worker->fodCalculateGains(FOD_BOARD_XMC);
    QCOMPARE(joined(*fod), QStringLiteral("Calculating Gains for XMC Board...\r\nNo parsable FOD data!"));
}

void TestTextRouting::calculation_withEmptyCapture_fails_data()
{
    QTest::addColumn<int>("board");
    QTest::addColumn<QString>("expected");
    QTest::newRow("XMC") << int(FOD_BOARD_XMC)
                         << QStringLiteral("Calculating Gains for XMC Board...\r\nNo captured data!\r\n");
    QTest::newRow("Automotive") << int(FOD_BOARD_AUTOMOTIVE)
                                << QStringLiteral("Calculating Gains for Auto Board...\r\nNo captured data!\r\n");
    QTest::newRow("unknown board: nothing split") << 7 << QStringLiteral("No captured data!\r\n");
}

void TestTextRouting::calculation_withEmptyCapture_fails()
{
    QFETCH(int, board);
    QFETCH(QString, expected);
    openOnTab(2);
    worker->fodCaptureControl(true);
    peer->send("\r\n\r\n\n");
    QTest::qWait(200);
    fod->clear();
    worker->fodCalculateGains(FOD_BOARD_TYPE_T(board));
    QCOMPARE(joined(*fod), expected);
    QCOMPARE(gains->count(), 1);
    QCOMPARE(gains->at(0).at(0).toBool(), false);
}

void TestTextRouting::gainButtons_sendSingleDigitsOnly()
{
    openOnTab(2);
    for (int gain : {2, 5, 3, 1, 4, 0})
        worker->fodGainChanged(gain);
    QTRY_COMPARE_WITH_TIMEOUT(peer->received(), QByteArray("234"), 2000);
}

QTEST_GUILESS_MAIN(TestTextRouting)
#include "tst_textrouting.moc"
