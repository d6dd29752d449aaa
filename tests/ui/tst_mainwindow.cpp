#include "tests/ui/windowtesthelpers.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMetaMethod>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTime>
#include <QTimer>

using namespace windowtest;

namespace {

QStringList comboLabels(const MainWindow &window)
{
    QStringList labels;
    auto *combo = widget<QComboBox>(window, "comPortComboBox");
    for (int i = 0; i < combo->count(); ++i)
        labels << combo->itemText(i);
    return labels;
}

} // namespace

class tst_MainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { prepareWindowTests(); }

    void construction_keepsExactlyTheThreeWorkingTabs();
    void construction_bindsEveryNamedSlotWithoutWarnings();
    void initialWindowSize_truncatesTheSinglePrecisionShare_data();
    void initialWindowSize_truncatesTheSinglePrecisionShare();
    void console_linesCarryTheLocalTimeStamp();
    void populateComPorts_labelsAndConnectButton_data();
    void populateComPorts_labelsAndConnectButton();
    void connectButton_sendsTheListedPortNameOrTheTypedPath_data();
    void connectButton_sendsTheListedPortNameOrTheTypedPath();
    void refresh_rebuildsTheListFromScratch();
    void failedConnectAnswer_rebuildsTheList();
    void connectAndDisconnectAnswers_switchTheControls();
    void disconnectAnswer_reportsTheBoardFirstAndOnlyOnce();
    void tabChange_tellsTheWorkerTheIndex();
    void terminalPane_appendsAsReceivedAndStaysBounded();
    void destructor_cancelsARunningFlashAndClosesAnOpenPort_data();
    void destructor_cancelsARunningFlashAndClosesAnOpenPort();
    void closeRequest_cancelsWhatRunsAndEndsTheLoopWithItsCode_data();
    void closeRequest_cancelsWhatRunsAndEndsTheLoopWithItsCode();
};

void tst_MainWindow::construction_keepsExactlyTheThreeWorkingTabs()
{
    auto window = makeWindow();
    QTabWidget *tabWidget = tabs(*window);
    QVERIFY(tabWidget);
    QCOMPARE(tabWidget->count(), 3);
    QCOMPARE(tabWidget->tabText(0), QStringLiteral("Firmware Update"));
    QCOMPARE(tabWidget->tabText(1), QStringLiteral("Terminal"));
    QCOMPARE(tabWidget->tabText(2), QStringLiteral("FOD"));
    QCOMPARE(tabWidget->currentIndex(), 0);
    // The removed pages are still built, with the widgets the window's slots use.
    QVERIFY(widget<QWidget>(*window, "ccTab"));
    QVERIFY(widget<QWidget>(*window, "regTab"));
    QVERIFY(widget<QWidget>(*window, "displayTab"));
    QVERIFY(widget<QWidget>(*window, "registerDetailsEdit"));
}

void tst_MainWindow::construction_bindsEveryNamedSlotWithoutWarnings()
{
    std::unique_ptr<MainWindow> window;
    {
        MessageLog log;
        window = makeWindow();
        for (const QString &warning : log.messages(QtWarningMsg))
            QVERIFY2(!warning.contains(QStringLiteral("connectSlotsByName")), qPrintable(warning));
    }

    const QMetaObject *meta = window->metaObject();
    int bound = 0;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod slot = meta->method(i);
        const QString name = QString::fromLatin1(slot.name());
        if (!name.startsWith(QStringLiteral("on_")))
            continue;
        const int split = name.lastIndexOf(QLatin1Char('_'));
        const QString objectName = name.mid(3, split - 3);
        const QString signalName = name.mid(split + 1);
        QObject *sender = window->findChild<QObject *>(objectName);
        QVERIFY2(sender, qPrintable(QStringLiteral("no object named ") + objectName));
        bool hasSignal = false;
        const QMetaObject *senderMeta = sender->metaObject();
        for (int s = 0; s < senderMeta->methodCount(); ++s) {
            const QMetaMethod signal = senderMeta->method(s);
            if (signal.methodType() == QMetaMethod::Signal && QString::fromLatin1(signal.name()) == signalName)
                hasSignal = true;
        }
        QVERIFY2(hasSignal, qPrintable(objectName + QStringLiteral(" has no signal ") + signalName));
        ++bound;
    }
    QCOMPARE(bound, 18);
}

void tst_MainWindow::initialWindowSize_truncatesTheSinglePrecisionShare_data()
{
    QTest::addColumn<QRect>("area");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("1920 x 1040 rounds down, not up") << QRect(0, 0, 1920, 1040) << QSize(1247, 675);
    QTest::newRow("800 x 600") << QRect(0, 0, 800, 600) << QSize(519, 389);
    QTest::newRow("offset area uses its own size") << QRect(100, 40, 1366, 728) << QSize(887, 473);
    QTest::newRow("empty area") << QRect() << QSize(0, 0);
}

void tst_MainWindow::initialWindowSize_truncatesTheSinglePrecisionShare()
{
    QFETCH(QRect, area);
    QFETCH(QSize, expected);
    QCOMPARE(MainWindow::initialWindowSize(area), expected);
}

void tst_MainWindow::console_linesCarryTheLocalTimeStamp()
{
    auto window = makeWindow();
    const QTime before = QTime::currentTime();
    window->transferStatus(QStringLiteral("first message"));
    window->transferStatus(QStringLiteral("  second, with leading spaces"));
    const QTime after = QTime::currentTime();

    const QStringList lines = consoleLines(*window);
    QCOMPARE(lines.size(), 2);
    const QRegularExpression format(QStringLiteral("^\\[(\\d\\d:\\d\\d:\\d\\d:\\d\\d\\d)\\] (.*)$"));
    const QRegularExpressionMatch first = format.match(lines.at(0));
    QVERIFY2(first.hasMatch(), qPrintable(lines.at(0)));
    QCOMPARE(first.captured(2), QStringLiteral("first message"));
    QCOMPARE(format.match(lines.at(1)).captured(2), QStringLiteral("  second, with leading spaces"));

    const QTime stamp = QTime::fromString(first.captured(1), QStringLiteral("hh:mm:ss:zzz"));
    QVERIFY(stamp.isValid());
    if (before <= after) // not across midnight
        QVERIFY(before.msecsSinceStartOfDay() <= stamp.msecsSinceStartOfDay() &&
                stamp.msecsSinceStartOfDay() <= after.msecsSinceStartOfDay());
}

void tst_MainWindow::populateComPorts_labelsAndConnectButton_data()
{
    QTest::addColumn<QList<MainWindow::ComPortEntry>>("ports");
    QTest::addColumn<QStringList>("labels");
    QTest::addColumn<QStringList>("portNames");
    QTest::addColumn<bool>("connectEnabled");

    // "ttyS1: " + manufacturer + "-" + description: 8 characters around the two texts.
    QTest::newRow("label of 29 characters stays whole")
        << QList<MainWindow::ComPortEntry>{port("ttyS1", "ABCDEFGHIJ", "KLMNOPQRSTU")}
        << QStringList{"ttyS1: ABCDEFGHIJ-KLMNOPQRSTU"} << QStringList{"ttyS1"} << true;
    QTest::newRow("label of 30 characters gets dots")
        << QList<MainWindow::ComPortEntry>{port("ttyS1", "ABCDEFGHIJ", "KLMNOPQRSTUV")}
        << QStringList{"ttyS1: ABCDEFGHIJ-KLMNOPQRSTUV..."} << QStringList{"ttyS1"} << true;
    QTest::newRow("long label cut to 30 characters")
        << QList<MainWindow::ComPortEntry>{port("ttyUSB3", "Some Manufacturer Inc.", "USB to UART bridge")}
        << QStringList{"ttyUSB3: Some Manufacturer Inc..."} << QStringList{"ttyUSB3"} << true;
    QTest::newRow("empty texts") << QList<MainWindow::ComPortEntry>{port("COM3", "", "")} << QStringList{"COM3: -"}
                                 << QStringList{"COM3"} << true;
    QTest::newRow("busy port left out, order kept")
        << QList<MainWindow::ComPortEntry>{port("ttyS2", "M", "a"), port("ttyS0", "M", "b", true),
                                           port("ttyS1", "M", "c")}
        << QStringList{"ttyS2: M-a", "ttyS1: M-c"} << QStringList{"ttyS2", "ttyS1"} << true;
    QTest::newRow("every port busy: empty list, Connect enabled")
        << QList<MainWindow::ComPortEntry>{port("ttyS0", "M", "a", true)} << QStringList{} << QStringList{} << true;
    QTest::newRow("no ports: Connect disabled")
        << QList<MainWindow::ComPortEntry>{} << QStringList{} << QStringList{} << false;
    const QString byId = QStringLiteral("/dev/serial/by-id/usb-Maker_Serial_Converter_0123456789ABCDEF-if00-port0");
    const QString byPath = QStringLiteral("/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0");
    QTest::newRow("stable names follow their port, whole; a busy port's do not show")
        << QList<MainWindow::ComPortEntry>{port("ttyUSB0", "M", "a", false, {byId, byPath}),
                                           port("ttyUSB1", "M", "b", true, {QStringLiteral("/dev/serial/by-id/x")})}
        << QStringList{"ttyUSB0: M-a", byId, byPath} << QStringList{"ttyUSB0", byId, byPath} << true;
}

void tst_MainWindow::populateComPorts_labelsAndConnectButton()
{
    QFETCH(QList<MainWindow::ComPortEntry>, ports);
    QFETCH(QStringList, labels);
    QFETCH(QStringList, portNames);
    QFETCH(bool, connectEnabled);

    auto window = makeWindow(ports);
    QCOMPARE(comboLabels(*window), labels);
    auto *combo = widget<QComboBox>(*window, "comPortComboBox");
    QStringList names;
    for (int i = 0; i < combo->count(); ++i)
        names << combo->itemData(i, Qt::UserRole).toString();
    QCOMPARE(names, portNames);
    QCOMPARE(button(*window, "comPortConnectButton")->isEnabled(), connectEnabled);
    QVERIFY(button(*window, "comPortRefreshPortsButton")->isEnabled());
}

void tst_MainWindow::connectButton_sendsTheListedPortNameOrTheTypedPath_data()
{
    QTest::addColumn<QList<MainWindow::ComPortEntry>>("ports");
    QTest::addColumn<QString>("typed"); // nothing typed when null
    QTest::addColumn<QString>("expectedPort");
    QTest::newRow("first free port, by name not label")
        << QList<MainWindow::ComPortEntry>{port("ttyS0", "M", "x", true),
                                           port("ttyUSB0", "A very long maker name", "d")}
        << QString() << QStringLiteral("ttyUSB0");
    QTest::newRow("every port busy sends an empty name")
        << QList<MainWindow::ComPortEntry>{port("ttyS0", "M", "x", true)} << QString() << QString();
    QTest::newRow("typed path that is no label goes as typed")
        << QList<MainWindow::ComPortEntry>{port("ttyS0", "M", "x")} << QStringLiteral(" /tmp/ttyZAVLO0")
        << QStringLiteral(" /tmp/ttyZAVLO0");
    QTest::newRow("typed label stands for its port")
        << QList<MainWindow::ComPortEntry>{port("ttyS0", "M", "x"), port("ttyS1", "M", "y")}
        << QStringLiteral("ttyS1: M-y") << QStringLiteral("ttyS1");
    QTest::newRow("a label in other case is a path") << QList<MainWindow::ComPortEntry>{port("ttyS0", "M", "x")}
                                                     << QStringLiteral("TTYS0: M-X") << QStringLiteral("TTYS0: M-X");
    QTest::newRow("no ports: a typed path enables Connect")
        << QList<MainWindow::ComPortEntry>{} << QStringLiteral("/dev/ttyACM7") << QStringLiteral("/dev/ttyACM7");
}

void tst_MainWindow::connectButton_sendsTheListedPortNameOrTheTypedPath()
{
    QFETCH(QList<MainWindow::ComPortEntry>, ports);
    QFETCH(QString, typed);
    QFETCH(QString, expectedPort);

    auto window = makeWindow(ports);
    auto *combo = widget<QComboBox>(*window, "comPortComboBox");
    if (!typed.isNull()) {
        combo->lineEdit()->clear();
        QTest::keyClicks(combo->lineEdit(), typed);
    }
    QSignalSpy connectSpy(window.get(), &MainWindow::connectCOMPortRequest);
    QSignalSpy disconnectSpy(window.get(), &MainWindow::disconnectCOMPortRequest);
    QVERIFY(connectSpy.isValid() && disconnectSpy.isValid());

    button(*window, "comPortConnectButton")->click();
    QCOMPARE(connectSpy.count(), 1);
    QCOMPARE(connectSpy.at(0).at(0).toString(), expectedPort);
    QCOMPARE(disconnectSpy.count(), 0);
    // Nothing changes until the worker answers.
    QCOMPARE(button(*window, "comPortConnectButton")->text(), QStringLiteral("Connect"));
    QVERIFY(consoleLines(*window).isEmpty());

    // A typed path that does not open stays in the box, to be corrected.
    window->connectCOMPortResponse(false);
    if (!typed.isEmpty() && typed == expectedPort)
        QCOMPARE(combo->currentText(), typed);
}

void tst_MainWindow::refresh_rebuildsTheListFromScratch()
{
    auto window = makeWindow({port("ttyS0", "M", "a")});
    MainWindow::setComPortEnumerator([] { return QList<MainWindow::ComPortEntry>{port("ttyACM0", "M", "b")}; });
    button(*window, "comPortRefreshPortsButton")->click();
    QCOMPARE(comboLabels(*window), QStringList{"ttyACM0: M-b"});
    QVERIFY(button(*window, "comPortRefreshPortsButton")->isEnabled());
}

void tst_MainWindow::failedConnectAnswer_rebuildsTheList()
{
    auto window = makeWindow({port("ttyS0", "M", "a")});
    MainWindow::setComPortEnumerator([] {
        return QList<MainWindow::ComPortEntry>{port("ttyS0", "M", "a", true), port("ttyUSB1", "M", "b")};
    });
    window->connectCOMPortResponse(false);

    QCOMPARE(consoleMessages(*window), QStringList{"Unable to open COM port!"});
    QCOMPARE(comboLabels(*window), QStringList{"ttyUSB1: M-b"});
    QVERIFY(button(*window, "comPortRefreshPortsButton")->isEnabled());
    QVERIFY(button(*window, "comPortConnectButton")->isEnabled());
    QCOMPARE(button(*window, "comPortConnectButton")->text(), QStringLiteral("Connect"));

    // The port is not taken as open.
    window->boardConnectedStatus(true);
    window->setFirmwareFilePath(QStringLiteral("/tmp/some.bin"));
    button(*window, "fwFlashFirmwareButton")->click();
    QCOMPARE(lastConsoleMessage(*window), QStringLiteral("Connect COM port!"));
}

void tst_MainWindow::connectAndDisconnectAnswers_switchTheControls()
{
    auto window = makeWindow();
    auto *combo = widget<QComboBox>(*window, "comPortComboBox");
    QAbstractButton *connectButton = button(*window, "comPortConnectButton");
    QAbstractButton *refresh = button(*window, "comPortRefreshPortsButton");

    window->connectCOMPortResponse(true);
    QCOMPARE(lastConsoleMessage(*window), QStringLiteral("Successfully opened COM port."));
    QCOMPARE(connectButton->text(), QStringLiteral("Disconnect"));
    QVERIFY(!combo->isEnabled());
    QVERIFY(!refresh->isEnabled());

    QSignalSpy connectSpy(window.get(), &MainWindow::connectCOMPortRequest);
    QSignalSpy disconnectSpy(window.get(), &MainWindow::disconnectCOMPortRequest);
    connectButton->click();
    QCOMPARE(disconnectSpy.count(), 1);
    QCOMPARE(connectSpy.count(), 0);

    window->disconnectCOMPortResponse();
    QCOMPARE(lastConsoleMessage(*window), QStringLiteral("Successfully closed COM port."));
    QCOMPARE(connectButton->text(), QStringLiteral("Connect"));
    QVERIFY(combo->isEnabled());
    QVERIFY(refresh->isEnabled());
    QCOMPARE(comboLabels(*window), QStringList{"ttyUSB0: Maker-Serial"});

    // A button text that is neither state sends nothing.
    connectButton->setText(QStringLiteral("connect"));
    connectButton->click();
    QCOMPARE(connectSpy.count(), 0);
    QCOMPARE(disconnectSpy.count(), 1);
}

void tst_MainWindow::disconnectAnswer_reportsTheBoardFirstAndOnlyOnce()
{
    auto window = makeWindow();
    window->connectCOMPortResponse(true);
    window->boardConnectedStatus(true);
    window->disconnectCOMPortResponse();
    QCOMPARE(consoleMessages(*window), (QStringList{"Successfully opened COM port.", "Board is now disconnected.",
                                                    "Successfully closed COM port."}));

    window->disconnectCOMPortResponse();
    QCOMPARE(consoleMessages(*window).size(), 4);
    QCOMPARE(lastConsoleMessage(*window), QStringLiteral("Successfully closed COM port."));
}

void tst_MainWindow::tabChange_tellsTheWorkerTheIndex()
{
    auto window = makeWindow();
    QSignalSpy spy(window.get(), &MainWindow::tabIndexChanged);
    QVERIFY(spy.isValid());
    tabs(*window)->setCurrentIndex(2);
    tabs(*window)->setCurrentIndex(1);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(0).at(0).toInt(), 2);
    QCOMPARE(spy.at(1).at(0).toInt(), 1);
}

void tst_MainWindow::terminalPane_appendsAsReceivedAndStaysBounded()
{
    auto window = makeWindow();
    auto *terminal = widget<QTextBrowser>(*window, "terminalOutput");
    window->terminalOutputMessage(QStringLiteral("abc"));
    window->terminalOutputMessage(QStringLiteral("def\n"));
    window->terminalOutputMessage(QStringLiteral("<b>ghi</b>"));
    QCOMPARE(terminal->toPlainText(), QStringLiteral("abcdef\n<b>ghi</b>"));

    // A click into the pane must not make later text land in the middle.
    terminal->moveCursor(QTextCursor::Start);
    window->terminalOutputMessage(QStringLiteral("!"));
    QVERIFY(terminal->toPlainText().endsWith(QStringLiteral("ghi</b>!")));

    QString flood;
    for (int i = 0; i < 30000; ++i)
        flood += QStringLiteral("line %1\n").arg(i);
    window->terminalOutputMessage(flood);
    window->terminalOutputMessage(QStringLiteral("tail"));
    QVERIFY(terminal->document()->blockCount() <= 20000);
    QVERIFY(terminal->toPlainText().endsWith(QStringLiteral("line 29999\ntail")));
    // The oldest lines go, a thousand below the bound, and what stays is whole and in order.
    QCOMPARE(terminal->document()->blockCount(), 19000);
    QCOMPARE(terminal->document()->firstBlock().text(), QStringLiteral("line 11001"));
}

void tst_MainWindow::destructor_cancelsARunningFlashAndClosesAnOpenPort_data()
{
    QTest::addColumn<bool>("portOpen");
    QTest::addColumn<bool>("flashing");
    QTest::addColumn<int>("cancels");
    QTest::addColumn<int>("disconnects");
    QTest::newRow("idle with the port closed") << false << false << 0 << 0;
    QTest::newRow("idle with the port open") << true << false << 0 << 1;
    QTest::newRow("flash running") << true << true << 1 << 1;
}

void tst_MainWindow::destructor_cancelsARunningFlashAndClosesAnOpenPort()
{
    QFETCH(bool, portOpen);
    QFETCH(bool, flashing);
    QFETCH(int, cancels);
    QFETCH(int, disconnects);

    auto window = makeWindow();
    if (portOpen)
        openPortWithBoard(*window);
    if (flashing) {
        window->setFirmwareFilePath(QStringLiteral("/tmp/image.bin"));
        button(*window, "fwFlashFirmwareButton")->click();
        QCOMPARE(button(*window, "fwFlashFirmwareButton")->text(), QStringLiteral("Cancel"));
    }
    QSignalSpy cancelSpy(window.get(), &MainWindow::cancelFlashDeviceRequest);
    QSignalSpy disconnectSpy(window.get(), &MainWindow::disconnectCOMPortRequest);
    window.reset();
    QCOMPARE(cancelSpy.count(), cancels);
    QCOMPARE(disconnectSpy.count(), disconnects);
}

void tst_MainWindow::closeRequest_cancelsWhatRunsAndEndsTheLoopWithItsCode_data()
{
    QTest::addColumn<QString>("work"); // what the worker is doing when the close comes
    QTest::addColumn<bool>("commandLine");
    QTest::addColumn<QString>("answer"); // the worker's answer the close waits for
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("requests");
    QTest::addColumn<QString>("notice"); // the window's line about the wait

    QTest::newRow("idle window: at once, 0") << "idle" << false << "" << 0 << QStringList{} << "";
    QTest::newRow("idle command-line run: at once, 5") << "idle" << true << "" << 5 << QStringList{} << "";
    QTest::newRow("command-line flash: cancelled, then 5")
        << "flash" << true << "cancelled" << 5 << QStringList{"cancel flash"} << "Closing once the flash has stopped.";
    QTest::newRow("command-line flash whose success came first: 0")
        << "flash" << true << "success" << 0 << QStringList{"cancel flash"} << "Closing once the flash has stopped.";
    QTest::newRow("calibration write in its catch: cancelled")
        << "catching" << false << "calculated" << 0 << QStringList{"cancel write"}
        << "Closing: the calibration write is cancelled.";
    QTest::newRow("calibration write in its block writes: finished first")
        << "writing" << false << "calculated" << 0 << QStringList{"cancel write"}
        << "Closing once the calibration area is written...";
}

void tst_MainWindow::closeRequest_cancelsWhatRunsAndEndsTheLoopWithItsCode()
{
    QFETCH(QString, work);
    QFETCH(bool, commandLine);
    QFETCH(QString, answer);
    QFETCH(int, exitCode);
    QFETCH(QStringList, requests);
    QFETCH(QString, notice);

    MessageLog log;
    auto window = makeWindow();
    if (commandLine)
        window->setCommandLineMode();
    if (work == "flash") {
        openPortWithBoard(*window);
        window->setFirmwareFilePath(QStringLiteral("/tmp/image.bin"));
        button(*window, "fwFlashFirmwareButton")->click();
    } else if (work != "idle") {
        window->connectCOMPortResponse(true);
        button(*window, "fodCalculateGains")->click();
        window->calibrationWriteState(work == "catching" ? CalWriteState::Catching : CalWriteState::Writing);
    }
    QStringList sent;
    connect(window.get(), &MainWindow::cancelFlashDeviceRequest, this, [&sent] { sent << "cancel flash"; });
    connect(window.get(), &MainWindow::cancelCalibrationWriteRequest, this, [&sent] { sent << "cancel write"; });

    bool closedAtOnce = false;
    bool controlsLocked = false;
    QTimer::singleShot(0, window.get(), [&] {
        closedAtOnce = window->close();
        // A second request while waiting changes nothing.
        window->close();
        controlsLocked = true;
        for (const char *name : {"comPortConnectButton", "fwFlashFirmwareButton", "fwLoadFirmwareButton",
                                 "fodCalculateGains", "fodControlButton", "fodClearBuffer"})
            controlsLocked = controlsLocked && !button(*window, name)->isEnabled();
        if (answer == "cancelled")
            window->rw_response(RWTarget::RW_CANCELLED);
        else if (answer == "success")
            window->rw_response(RWTarget::RW_SUCCESS);
        else if (answer == "calculated")
            window->gainCalculationStatus(true);
    });
    QTimer::singleShot(60000, window.get(), [] { QCoreApplication::exit(-99); });
    QCOMPARE(QCoreApplication::exec(), exitCode);

    QCOMPARE(closedAtOnce, work == "idle");
    QVERIFY(controlsLocked);
    QCOMPARE(sent, requests);
    const QString fodText = widget<QTextBrowser>(*window, "fodCapture")->toPlainText();
    if (!notice.isEmpty())
        QVERIFY2(consoleMessages(*window).contains(notice) || fodText.contains(notice), qPrintable(fodText));
    QCOMPARE(log.messages(QtDebugMsg).filter(QStringLiteral("Exiting with response")),
             commandLine ? QStringList{QStringLiteral("Exiting with response %1").arg(exitCode)} : QStringList{});
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
