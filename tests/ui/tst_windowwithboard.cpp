#include "sim/boardsimulator.h"
#include "sim/imagebuilder.h"
#include "tests/ui/testimage.h"
#include "tests/ui/windowtesthelpers.h"

#include <QComboBox>
#include <QCryptographicHash>
#include <QFileDialog>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QProgressBar>
#include <QSerialPort>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <set>

using namespace windowtest;

namespace {

// Ends a QCoreApplication::exec() that would otherwise hang a broken run; the tests then fail
// on the code it returns, not on how long anything took.
constexpr int kHangGuardMs = 120000;
constexpr int kHangGuardCode = -99;

TestImage boardImage(int applicationBytes)
{
    TestImage image;
    image.hardwareId = kSimDefaultHardwareId;
    image.partNumber = kSimDefaultPartNumber;
    image.application = QByteArray(applicationBytes, '\0');
    for (int i = 0; i < image.application.size(); ++i)
        image.application[i] = char((i * 7 + 3) & 0xFF);
    image.settings = TestImage::section("ZVLS", 1, 4, 128);
    return image;
}

// A window on the real worker whose port list offers only the simulated board.
std::unique_ptr<MainWindow> windowOnBoard(const BoardSimulator &sim)
{
    const QString portName = QString::fromStdString(sim.slavePath());
    MainWindow::setComPortEnumerator([portName] { return QList<MainWindow::ComPortEntry>{port(portName)}; });
    return std::make_unique<MainWindow>();
}

bool connectAndDetect(MainWindow &window, int detections = 1)
{
    if (button(window, "comPortConnectButton")->text() == QStringLiteral("Connect"))
        button(window, "comPortConnectButton")->click();
    return QTest::qWaitFor(
        [&] { return consoleMessages(window).count(QStringLiteral("Board is now connected.")) >= detections; }, 30000);
}

// Runs the event loop until the window ends it, or a broken run is cut off.
int execUntilTheWindowEndsIt()
{
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(kHangGuardCode); });
    guard.start(kHangGuardMs);
    return QCoreApplication::exec();
}

QStringList infoRows(const MainWindow &window, int first, int last)
{
    QStringList texts;
    for (int row = first; row <= last; ++row)
        texts << widget<QTableWidget>(window, "fwInfoTable")->item(row, 0)->text();
    return texts;
}

std::set<int> blockWriteCommands(const BoardSimulator &sim)
{
    std::set<int> commands;
    for (const RequestRecord &r : sim.requestLog())
        if (r.command == SimCmd::WRITE_APPLICATION || r.command == SimCmd::WRITE_SETTINGS ||
            r.command == SimCmd::WRITE_CALIBRATION)
            commands.insert(r.command);
    return commands;
}

QByteArray head(const std::vector<uint8_t> &bytes, size_t count)
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), int(qMin(count, bytes.size())));
}

} // namespace

class tst_WindowWithBoard : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        prepareWindowTests();
        QVERIFY(dir.isValid());
    }

    void typedPortPath_connectsAndDetects();
    void commandLineFlash_exitsWithTheResultAfterOneFlash();
    void windowFlash_recordsTheBoardTheImageAndTheResult();
    void closingDuringAFlash_stopsBetweenBlocks_data();
    void closingDuringAFlash_stopsBetweenBlocks();
    void closingWithThePortOpen_releasesThePort();
    void flashAfterASecondChoice_writesOnlyWhatTheScreenOffers_data();
    void flashAfterASecondChoice_writesOnlyWhatTheScreenOffers();
    void secondBoard_showsOnlyItsOwnIdentity();
    void showOutputAfterFlashing_startsTheNewFirmwareOnTheTerminalTab();

private:
    QTemporaryDir dir;
};

void tst_WindowWithBoard::typedPortPath_connectsAndDetects()
{
    BoardSimulator sim;
    QVERIFY2(sim.start(), sim.lastError().c_str());
    // The system lists ports of its own; the simulated board is on none of them.
    MainWindow::setComPortEnumerator([] { return QList<MainWindow::ComPortEntry>{port("ttyS0")}; });
    MainWindow window;
    auto *box = widget<QComboBox>(window, "comPortComboBox");
    box->lineEdit()->clear();
    QTest::keyClicks(box->lineEdit(), QString::fromStdString(sim.slavePath()));

    QVERIFY(connectAndDetect(window));
    QTRY_COMPARE_WITH_TIMEOUT(infoRows(window, 2, 2), QStringList{QString::number(kSimDefaultPartNumber)}, 10000);
}

void tst_WindowWithBoard::commandLineFlash_exitsWithTheResultAfterOneFlash()
{
    BoardSimulator sim;
    QVERIFY2(sim.start(), sim.lastError().c_str());
    const TestImage image = boardImage(4096);
    const QString path = dir.filePath(QStringLiteral("cli.bin"));
    QVERIFY(image.writeTo(path));

    MessageLog log;
    auto window = windowOnBoard(sim);
    window->setCommandLineMode();
    window->setFirmwareFilePath(path);
    emit window->connectCOMPortRequest(QString::fromStdString(sim.slavePath()));

    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(kHangGuardCode); });
    guard.start(kHangGuardMs);
    const int code = QCoreApplication::exec();
    guard.stop();

    QCOMPARE(code, int(RWTarget::RW_SUCCESS));
    const QStringList messages = consoleMessages(*window);
    QVERIFY2(messages.contains(QStringLiteral("Board is now connected.")), qPrintable(messages.join('\n')));
    QCOMPARE(messages.filter(QStringLiteral("Successfully flashed device.")).size(), 1);
    QCOMPARE(log.messages(QtDebugMsg).filter(QStringLiteral("Exiting with response")),
             QStringList{"Exiting with response 0"});

    const BoardSnapshot board = sim.snapshot();
    QVERIFY(board.application.size() >= size_t(image.application.size()));
    QVERIFY(std::equal(image.application.begin(), image.application.end(), board.application.begin(),
                       [](char a, uint8_t b) { return uint8_t(a) == b; }));
    QVERIFY(std::equal(image.settings.begin(), image.settings.end(), board.settings.begin(),
                       [](char a, uint8_t b) { return uint8_t(a) == b; }));
}

void tst_WindowWithBoard::windowFlash_recordsTheBoardTheImageAndTheResult()
{
    const QString stateHome = dir.filePath(QStringLiteral("state-window-flash"));
    qputenv("XDG_STATE_HOME", stateHome.toLocal8Bit());
    BoardSimulator sim;
    QVERIFY2(sim.start(), sim.lastError().c_str());
    const TestImage image = boardImage(2048);
    const QString path = dir.filePath(QStringLiteral("recorded.bin"));
    QVERIFY(image.writeTo(path));

    auto window = windowOnBoard(sim);
    QVERIFY(connectAndDetect(*window));
    window->setFirmwareFilePath(path);
    window->loadFirmwareFile();
    button(*window, "fwFlashFirmwareButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(lastConsoleMessage(*window), QStringLiteral("Successfully flashed device."), 30000);

    QFile history(stateHome + QStringLiteral("/zavlo-gui/history.jsonl"));
    QVERIFY(history.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = history.readAll().split('\n');
    QCOMPARE(lines.size(), 2); // one line and its end
    QJsonParseError error;
    const QJsonObject record = QJsonDocument::fromJson(lines.at(0), &error).object();
    QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString()));
    QCOMPARE(record.value("board").toObject().value("serialNumber").toString(), QStringLiteral("SIM-00001234"));
    QCOMPARE(record.value("image").toObject().value("sha256").toString(),
             QString::fromLatin1(QCryptographicHash::hash(image.build(), QCryptographicHash::Sha256).toHex()));
    QCOMPARE(record.value("result").toObject().value("name").toString(), QStringLiteral("RW_SUCCESS"));
    QCOMPARE(record.value("bytesWritten").toInt(), 2048 + image.settings.size());
}

void tst_WindowWithBoard::closingDuringAFlash_stopsBetweenBlocks_data()
{
    QTest::addColumn<bool>("commandLine");
    QTest::newRow("window destroyed during a flash") << false;
    QTest::newRow("command line: window closed during the flash, exit 5") << true;
}

void tst_WindowWithBoard::closingDuringAFlash_stopsBetweenBlocks()
{
    QFETCH(bool, commandLine);
    SimConfig config;
    config.applicationAreaSize = 256 * 1024;
    BoardSimulator sim(config);
    QVERIFY2(sim.start(), sim.lastError().c_str());
    // Paced like the real line, the image takes many seconds: the window closes well inside it.
    FaultConfig faults;
    faults.pace115200 = true;
    sim.setFaults(faults);

    const int applicationBytes = 128 * 1024;
    const TestImage image = boardImage(applicationBytes);
    const QString path = dir.filePath(QStringLiteral("big.bin"));
    QVERIFY(image.writeTo(path));

    MessageLog log;
    auto window = windowOnBoard(sim);
    window->setFirmwareFilePath(path);
    if (commandLine) {
        window->setCommandLineMode();
        emit window->connectCOMPortRequest(QString::fromStdString(sim.slavePath()));
    } else {
        QVERIFY(connectAndDetect(*window));
        window->loadFirmwareFile();
        button(*window, "fwFlashFirmwareButton")->click();
    }
    QTRY_VERIFY_WITH_TIMEOUT(widget<QProgressBar>(*window, "fwProgressBar")->value() > 0, 30000);

    if (commandLine) {
        QTimer::singleShot(0, window.get(), [&window] { QVERIFY(!window->close()); });
        QCOMPARE(execUntilTheWindowEndsIt(), int(RWTarget::RW_CANCELLED));
        QCOMPARE(lastConsoleMessage(*window), QStringLiteral("Flash process cancelled by user!"));
    }
    // The worker may be inside the flash and report every block through blocking calls into the
    // window: destroying it must cancel, release those calls and let the thread end.
    window.reset();

    const QStringList debug = log.messages(QtDebugMsg);
    QVERIFY(debug.contains(QStringLiteral("Cancel work")));
    QVERIFY2(debug.contains(QStringLiteral("In Worker Deconstructor")), "the worker thread did not finish");
    const BoardSnapshot board = sim.snapshot();
    const long blocksWritten = board.blockWriteCount;
    QVERIFY(blocksWritten > 0);
    QVERIFY(blocksWritten < applicationBytes / RWTarget::MAX_BLOCK_BYTES);
    const size_t written = size_t(blocksWritten) * RWTarget::MAX_BLOCK_BYTES;
    QCOMPARE(head(board.application, written), image.application.left(int(written)));
    if (commandLine)
        QCOMPARE(board.mode, BoardMode::Bootloader);
}

void tst_WindowWithBoard::closingWithThePortOpen_releasesThePort()
{
    BoardSimulator sim;
    QVERIFY2(sim.start(), sim.lastError().c_str());
    const QString portName = QString::fromStdString(sim.slavePath());
    MessageLog log;
    auto window = windowOnBoard(sim);
    button(*window, "comPortConnectButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(consoleMessages(*window).contains(QStringLiteral("Successfully opened COM port.")), 30000);
    QSerialPort probe(portName);
    QVERIFY(!probe.open(QIODevice::ReadWrite)); // held exclusively by the worker

    window.reset();

    // An idle worker gets only a short wait; whether it closes the port on the disconnect request
    // or when it is deleted, the port must be free once the worker is gone.
    QTRY_VERIFY_WITH_TIMEOUT(log.messages(QtDebugMsg).contains(QStringLiteral("In Worker Deconstructor")), 30000);
    QVERIFY2(probe.open(QIODevice::ReadWrite), qPrintable(probe.errorString()));
}

void tst_WindowWithBoard::flashAfterASecondChoice_writesOnlyWhatTheScreenOffers_data()
{
    QTest::addColumn<QString>("second");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("reason"); // a console line that says why; empty: none
    QTest::addColumn<QList<int>>("blockCommands");

    QTest::newRow("then a file with the wrong magic: nothing written") << "wrong magic"
                                                                       << "Select at least one section to flash!"
                                                                       << "Incorrect file type!" << QList<int>{};
    QTest::newRow("then an image whose settings lack their magic: settings not written")
        << "settings without magic"
        << "Successfully flashed device." << QString()
        << QList<int>{SimCmd::WRITE_APPLICATION, SimCmd::WRITE_CALIBRATION};
    QTest::newRow("then a cancelled dialog: the loaded image written")
        << "dialog cancelled"
        << "Successfully flashed device." << QString()
        << QList<int>{SimCmd::WRITE_APPLICATION, SimCmd::WRITE_SETTINGS, SimCmd::WRITE_CALIBRATION};
}

void tst_WindowWithBoard::flashAfterASecondChoice_writesOnlyWhatTheScreenOffers()
{
    QFETCH(QString, second);
    QFETCH(QString, result);
    QFETCH(QString, reason);
    QFETCH(QList<int>, blockCommands);

    BoardSimulator sim;
    QVERIFY2(sim.start(), sim.lastError().c_str());
    ImageSpec good;
    good.applicationSize = 2048;
    const QString goodPath = dir.filePath(QStringLiteral("good.bin"));
    QVERIFY(writeFirmwareImage(goodPath.toStdString(), good));

    auto window = windowOnBoard(sim);
    QVERIFY(connectAndDetect(*window));
    window->setFirmwareFilePath(goodPath);
    window->loadFirmwareFile();

    if (second == "dialog cancelled") {
        QTimer::singleShot(0, window.get(), [] {
            if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget()))
                dialog->reject();
        });
        button(*window, "fwLoadFirmwareButton")->click();
    } else {
        ImageSpec bad = good;
        bad.applicationSeed = 9;
        bad.wrongMagic = second == "wrong magic";
        bad.settingsWithoutMagic = second == "settings without magic";
        const QString badPath = dir.filePath(QStringLiteral("second.bin"));
        QVERIFY(writeFirmwareImage(badPath.toStdString(), bad));
        window->setFirmwareFilePath(badPath);
        window->loadFirmwareFile();
    }

    sim.clearRequestLog();
    button(*window, "fwFlashFirmwareButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(button(*window, "fwFlashFirmwareButton")->text(), QStringLiteral("Flash Firmware"),
                              30000);
    const QStringList messages = consoleMessages(*window);
    QCOMPARE(messages.last(), result);
    if (!reason.isEmpty())
        QVERIFY2(messages.contains(reason), qPrintable(messages.join('\n')));

    const std::set<int> seen = blockWriteCommands(sim);
    QCOMPARE(QList<int>(seen.begin(), seen.end()), blockCommands);
}

void tst_WindowWithBoard::secondBoard_showsOnlyItsOwnIdentity()
{
    BoardSimulator sim;
    QVERIFY2(sim.start(), sim.lastError().c_str());
    auto window = windowOnBoard(sim);
    QVERIFY(connectAndDetect(*window));
    QTRY_COMPARE_WITH_TIMEOUT(infoRows(*window, 1, 7),
                              (QStringList{"1.3", "1001", "2.5", "66", "1.3", "2.1", "SIM-00001234"}), 30000);

    // The first board goes; another one, whose calibration page has no record, takes its place.
    FaultConfig gone;
    gone.absent = true;
    sim.setFaults(gone);
    QTRY_COMPARE_WITH_TIMEOUT(infoRows(*window, 1, 7), (QStringList{"", "", "", "", "", "", ""}), 30000);
    sim.setCalibrationArea(std::vector<uint8_t>(4096, 0x00));
    sim.setRegister(SimReg::BL_VERSION, 0x0209);
    sim.setFaults(FaultConfig());
    QVERIFY(connectAndDetect(*window, 2));
    QTRY_COMPARE_WITH_TIMEOUT(infoRows(*window, 1, 7), (QStringList{"2.9", "1001", "2.5", "66", "1.3", "", ""}), 30000);
}

void tst_WindowWithBoard::showOutputAfterFlashing_startsTheNewFirmwareOnTheTerminalTab()
{
    SimConfig config;
    config.text.plainLines = {"boot line 1", "boot line 2", "running"};
    config.text.statusLineEvery = 0;
    BoardSimulator sim(config);
    QVERIFY2(sim.start(), sim.lastError().c_str());
    ImageSpec spec;
    spec.applicationSize = 2048;
    const QString image = dir.filePath(QStringLiteral("watch.bin"));
    QVERIFY(writeFirmwareImage(image.toStdString(), spec));

    auto window = windowOnBoard(sim);
    QAbstractButton *box = button(*window, "fwShowOutputAfterFlashBox");
    QVERIFY(!box->isChecked());
    box->click();
    QVERIFY(connectAndDetect(*window));
    window->setFirmwareFilePath(image);
    window->loadFirmwareFile();
    sim.clearRequestLog();
    button(*window, "fwFlashFirmwareButton")->click();

    QTRY_COMPARE_WITH_TIMEOUT(lastConsoleMessage(*window), QStringLiteral("Successfully flashed device."), 30000);
    QCOMPARE(tabs(*window)->currentIndex(), int(kTerminalTab));
    auto *pane = widget<QTextBrowser>(*window, "terminalOutput");
    QTRY_VERIFY_WITH_TIMEOUT(pane->toPlainText().contains(QStringLiteral("running")), 10000);
    // From its very first line, with nothing of the bootloader before it.
    QCOMPARE(pane->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts).first(), QStringLiteral("boot line 1"));
    // The new firmware was left running: nothing sent the board back to its bootloader.
    QCOMPARE(sim.snapshot().mode, BoardMode::Application);
    // The new firmware was started once, by the flash: a second start would stall on an answer
    // the application does not give.
    int starts = 0;
    for (const RequestRecord &r : sim.requestLog()) {
        QVERIFY2(!(r.command == SimCmd::WRITE_REGISTER && r.payload == std::vector<uint8_t>{0xDD, 0x55}),
                 r.text().c_str());
        starts += r.command == SimCmd::WRITE_REGISTER && r.payload == std::vector<uint8_t>{0x33, 0xDD};
    }
    QCOMPARE(starts, 1);

    window.reset();
    MainWindow next;
    QVERIFY2(button(next, "fwShowOutputAfterFlashBox")->isChecked(), "the box is remembered");
}

QTEST_MAIN(tst_WindowWithBoard)
#include "tst_windowwithboard.moc"
