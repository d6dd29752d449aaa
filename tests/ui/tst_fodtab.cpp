#include "tests/ui/windowtesthelpers.h"
#include "ui/fodplotview.h"
#include "worker/serialworker.h" // declares FOD_BOARD_TYPE_T to the meta-type system

#include <QSignalSpy>
#include <QTest>
#include <QTextBrowser>

#include <qwt_plot.h>
#include <qwt_plot_curve.h>

using namespace windowtest;

namespace {

QString enabledFlag(const QWidget *w)
{
    return w->isEnabled() ? QStringLiteral("E") : QStringLiteral("D");
}

// The FOD controls in one line: capture button (state and text), Clear, Save and Load,
// Calculate, Automotive, XMC, the three gain buttons, tabs 0 and 1, Connect, Restore Calibration.
QString fodState(const MainWindow &window)
{
    QAbstractButton *capture = button(window, "fodControlButton");
    QString gains;
    for (const char *name : {"fodButtonGain2", "fodButtonGain3", "fodButtonGain4"})
        gains += enabledFlag(button(window, name));
    return QStringLiteral("capture:%1 '%2' clear:%3 files:%4%5 calc:%6 radios:%7%8 gains:%9 tabs:%10%11 connect:%12 "
                          "restore:%13")
        .arg(enabledFlag(capture), capture->text(), enabledFlag(button(window, "fodClearBuffer")),
             enabledFlag(button(window, "fodSaveCapture")), enabledFlag(button(window, "fodLoadCapture")),
             enabledFlag(button(window, "fodCalculateGains")), enabledFlag(button(window, "fodAutomotiveSelected")),
             enabledFlag(button(window, "fodXMCSelected")), gains)
        .arg(tabs(window)->isTabEnabled(0) ? QStringLiteral("E") : QStringLiteral("D"),
             tabs(window)->isTabEnabled(1) ? QStringLiteral("E") : QStringLiteral("D"),
             enabledFlag(button(window, "comPortConnectButton")))
        .arg(enabledFlag(button(window, "fodRestoreCalibration")));
}

const QString kClosed =
    "capture:D 'Start Capture' clear:E files:EE calc:D radios:DD gains:DDD tabs:EE connect:E restore:D";
const QString kReady =
    "capture:E 'Start Capture' clear:E files:EE calc:E radios:EE gains:DDD tabs:EE connect:E restore:E";
const QString kCapturing =
    "capture:E 'Stop Capture' clear:D files:DD calc:D radios:DD gains:DDD tabs:DD connect:D restore:D";
const QString kCapturingXmc =
    "capture:E 'Stop Capture' clear:D files:DD calc:D radios:DD gains:EEE tabs:DD connect:D restore:D";
const QString kCalculating =
    "capture:D 'Start Capture' clear:D files:DD calc:D radios:DD gains:DDD tabs:DD connect:E restore:D";
// A restore locks the tab and the port like a calculation, and the Connect button as well.
const QString kRestoring =
    "capture:D 'Start Capture' clear:D files:DD calc:D radios:DD gains:DDD tabs:DD connect:D restore:D";
// A loaded capture can be fitted without a port; the write then only says that nothing was written.
const QString kLoadedClosed =
    "capture:D 'Start Capture' clear:E files:EE calc:E radios:EE gains:DDD tabs:EE connect:E restore:D";

void act(MainWindow &window, const QString &step)
{
    if (step == "open")
        window.connectCOMPortResponse(true);
    else if (step == "close")
        window.disconnectCOMPortResponse();
    else if (step == "xmc")
        button(window, "fodXMCSelected")->click();
    else if (step == "automotive")
        button(window, "fodAutomotiveSelected")->click();
    else if (step == "capture")
        button(window, "fodControlButton")->click();
    else if (step == "load")
        window.loadFodCapture(QStringLiteral("capture.txt"));
    else if (step == "clear")
        button(window, "fodClearBuffer")->click();
    else if (step == "calculate")
        button(window, "fodCalculateGains")->click();
    else if (step == "failed")
        window.gainCalculationStatus(false);
    else if (step == "succeeded")
        window.gainCalculationStatus(true);
    else if (step == "restore")
        window.restoreCalibration(QStringLiteral("backup.bin"));
    else if (step == "restored")
        window.calibrationRestoreResponse(0);
    else
        QFAIL(qPrintable("unknown step " + step));
}

} // namespace

class tst_FodTab : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { prepareWindowTests(); }

    void controls_followTheStateTable_data();
    void controls_followTheStateTable();
    void capture_sendsStartAndStop();
    void calculate_sendsTheSelectedBoard_data();
    void calculate_sendsTheSelectedBoard();
    void gainButtons_sendTheirGain();
    void clearBuffer_clearsThePaneAndTheWorkersCapture();
    void fodText_isAppendedAsReceivedAndBounded();
    void loadCapture_asksTheWorkerForTheFile();
    void fitReport_isPlottedPerSetWithTheFarRowsMarked();
};

void tst_FodTab::controls_followTheStateTable_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("expected");

    QTest::newRow("port closed at start") << QStringList{} << kClosed;
    QTest::newRow("ready once the port is open") << QStringList{"open"} << kReady;
    QTest::newRow("capturing, Automotive: no gain buttons") << QStringList{"open", "capture"} << kCapturing;
    QTest::newRow("capturing, XMC: gain buttons") << QStringList{"open", "xmc", "capture"} << kCapturingXmc;
    QTest::newRow("stop disables the gain buttons again") << QStringList{"open", "xmc", "capture", "capture"} << kReady;
    QTest::newRow("calculating") << QStringList{"open", "calculate"} << kCalculating;
    QTest::newRow("failed calculation restores the controls") << QStringList{"open", "calculate", "failed"} << kReady;
    QTest::newRow("successful calculation restores the controls")
        << QStringList{"open", "xmc", "calculate", "succeeded"} << kReady;
    QTest::newRow("closing the port from ready") << QStringList{"open", "close"} << kClosed;
    QTest::newRow("port lost while capturing: the capture ends with it")
        << QStringList{"open", "xmc", "capture", "close"} << kClosed;
    QTest::newRow("XMC capture after a calculation")
        << QStringList{"open", "xmc", "calculate", "failed", "capture"} << kCapturingXmc;
    QTest::newRow("loaded capture: Calculate without a port") << QStringList{"load"} << kLoadedClosed;
    QTest::newRow("calculating a loaded capture") << QStringList{"load", "calculate"} << kCalculating;
    QTest::newRow("a loaded capture stays fittable after its calculation")
        << QStringList{"load", "calculate", "succeeded"} << kLoadedClosed;
    QTest::newRow("Clear Buffer forgets the loaded capture") << QStringList{"load", "clear"} << kClosed;
    QTest::newRow("a new capture replaces the loaded one")
        << QStringList{"load", "open", "capture", "capture", "close"} << kClosed;
    QTest::newRow("restoring") << QStringList{"open", "restore"} << kRestoring;
    QTest::newRow("a restore's end restores the controls") << QStringList{"open", "restore", "restored"} << kReady;
}

void tst_FodTab::controls_followTheStateTable()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, expected);
    auto window = makeWindow();
    for (const QString &step : steps)
        act(*window, step);
    QCOMPARE(fodState(*window), expected);
}

void tst_FodTab::capture_sendsStartAndStop()
{
    auto window = makeWindow();
    window->connectCOMPortResponse(true);
    QSignalSpy spy(window.get(), &MainWindow::fodCaptureControl);
    QVERIFY(spy.isValid());
    button(*window, "fodControlButton")->click();
    button(*window, "fodControlButton")->click();
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(0).at(0).toBool(), true);
    QCOMPARE(spy.at(1).at(0).toBool(), false);

    // A text that is neither state does nothing.
    button(*window, "fodControlButton")->setText(QStringLiteral("Start"));
    button(*window, "fodControlButton")->click();
    QCOMPARE(spy.count(), 2);
}

void tst_FodTab::calculate_sendsTheSelectedBoard_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<int>("board");
    QTest::newRow("Automotive") << QStringList{"open"} << int(FOD_BOARD_AUTOMOTIVE);
    QTest::newRow("XMC") << QStringList{"open", "xmc"} << int(FOD_BOARD_XMC);
    QTest::newRow("back to Automotive") << QStringList{"open", "xmc", "automotive"} << int(FOD_BOARD_AUTOMOTIVE);
}

void tst_FodTab::calculate_sendsTheSelectedBoard()
{
    QFETCH(QStringList, steps);
    QFETCH(int, board);
    auto window = makeWindow();
    for (const QString &step : steps)
        act(*window, step);
    QSignalSpy spy(window.get(), &MainWindow::fodCalculateGains);
    QVERIFY(spy.isValid());
    act(*window, "calculate");
    QCOMPARE(spy.count(), 1);
    QCOMPARE(int(spy.at(0).at(0).value<FOD_BOARD_TYPE_T>()), board);
}

void tst_FodTab::gainButtons_sendTheirGain()
{
    auto window = makeWindow();
    act(*window, "open");
    act(*window, "xmc");
    act(*window, "capture");
    QSignalSpy spy(window.get(), &MainWindow::fodGainChanged);
    QVERIFY(spy.isValid());
    button(*window, "fodButtonGain3")->click();
    button(*window, "fodButtonGain2")->click();
    button(*window, "fodButtonGain4")->click();
    QCOMPARE(spy.count(), 3);
    QCOMPARE(spy.at(0).at(0).toInt(), 3);
    QCOMPARE(spy.at(1).at(0).toInt(), 2);
    QCOMPARE(spy.at(2).at(0).toInt(), 4);
}

void tst_FodTab::clearBuffer_clearsThePaneAndTheWorkersCapture()
{
    auto window = makeWindow();
    window->fodOutputMessage(QStringLiteral("1 2 3 4 5 6 7\r\n"));
    QSignalSpy spy(window.get(), &MainWindow::fodClearCapture);
    QVERIFY(spy.isValid());
    // Enabled even with the port closed.
    button(*window, "fodClearBuffer")->click();
    QCOMPARE(spy.count(), 1);
    QVERIFY(widget<QTextBrowser>(*window, "fodCapture")->toPlainText().isEmpty());
}

void tst_FodTab::fodText_isAppendedAsReceivedAndBounded()
{
    auto window = makeWindow();
    auto *pane = widget<QTextBrowser>(*window, "fodCapture");
    window->fodOutputMessage(QStringLiteral("1 127700   10"));
    window->fodOutputMessage(QStringLiteral("55   1903\n"));
    window->fodOutputMessage(QStringLiteral("No parsable FOD data!"));
    QCOMPARE(pane->toPlainText(), QStringLiteral("1 127700   1055   1903\nNo parsable FOD data!"));

    QString flood;
    for (int i = 0; i < 25000; ++i)
        flood += QStringLiteral("%1 1 1 1 1 1 1\n").arg(i);
    window->fodOutputMessage(flood);
    QVERIFY(pane->document()->blockCount() <= 20000);
    QVERIFY(pane->toPlainText().endsWith(QStringLiteral("24999 1 1 1 1 1 1\n")));
}

void tst_FodTab::loadCapture_asksTheWorkerForTheFile()
{
    auto window = makeWindow();
    QSignalSpy spy(window.get(), &MainWindow::fodLoadCapture);
    QVERIFY(spy.isValid());
    window->loadFodCapture(QStringLiteral("/captures/bench 3.txt"));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("/captures/bench 3.txt"));
}

void tst_FodTab::fitReport_isPlottedPerSetWithTheFarRowsMarked()
{
    FodFitReport report;
    report.board = FOD_BOARD_XMC;
    for (int gain = 2; gain <= 4; ++gain) {
        FodSetReport set;
        set.gain = gain;
        set.fitted = gain != 4;
        for (int i = 0; i < 5; ++i) {
            FodFitPoint point;
            point.x = 500.0f * i;
            point.reference = 1000.0f + i;
            point.model = 1000.0f;
            point.residual = float(i);
            point.outlier = set.fitted && i == 4;
            set.points.push_back(point);
        }
        set.rmsResidual = 0.5;
        set.outlierLimit = set.fitted ? 3.0 : 0.0;
        set.outlierCount = set.fitted ? 1 : 0;
        report.sets.push_back(set);
    }
    auto window = makeWindow();
    auto *view = widget<FodPlotView>(*window, "fodPlot");
    window->fodFitReport(report);
    const QList<QwtPlot *> plots = view->findChildren<QwtPlot *>();
    QCOMPARE(plots.size(), 6);
    QStringList titles;
    QList<int> marked;
    for (QwtPlot *plot : plots) {
        titles << plot->title().text();
        for (QwtPlotItem *item : plot->itemList(QwtPlotItem::Rtti_PlotCurve)) {
            if (item->title().text() == QStringLiteral("far from the model"))
                marked << int(static_cast<QwtPlotCurve *>(item)->dataSize());
        }
    }
    QVERIFY2(titles.contains(QStringLiteral("Gain 3: 5 rows\nRMS 0.500, 1 outlier")), qPrintable(titles.join('|')));
    QVERIFY2(titles.contains(QStringLiteral("Gain 4: 5 rows, not fitted")), qPrintable(titles.join('|')));
    // Gains 2 and 3 ring their far row in both plots; the unfitted gain 4 has nothing to ring.
    QCOMPARE(marked, (QList<int>{1, 1, 1, 1}));

    window->fodFitReport(FodFitReport{});
    QCOMPARE(view->findChildren<QwtPlot *>().size(), 0);
}

QTEST_MAIN(tst_FodTab)
#include "tst_fodtab.moc"
