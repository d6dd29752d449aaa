#include "sim/boardsimulator.h"
#include "tests/ui/testimage.h"
#include "tests/ui/windowtesthelpers.h"

#include <QProgressBar>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>

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

} // namespace

class tst_WindowWithBoard : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        registerWindowTypes();
        QVERIFY(dir.isValid());
    }

    void commandLineFlash_exitsWithTheResultAfterOneFlash();
    void closingDuringAFlash_cancelsAndLetsTheWorkerFinish();
    void closingWithThePortOpen_releasesThePort();

private:
    QTemporaryDir dir;
};

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

void tst_WindowWithBoard::closingDuringAFlash_cancelsAndLetsTheWorkerFinish()
{
    SimConfig config;
    config.applicationAreaSize = 256 * 1024;
    BoardSimulator sim(config);
    QVERIFY2(sim.start(), sim.lastError().c_str());
    // Paced like the real line, the image takes many seconds: the window closes well inside it.
    FaultConfig faults;
    faults.pace115200 = true;
    sim.setFaults(faults);

    const int applicationBytes = 128 * 1024;
    const QString path = dir.filePath(QStringLiteral("big.bin"));
    QVERIFY(boardImage(applicationBytes).writeTo(path));

    MessageLog log;
    auto window = windowOnBoard(sim);
    button(*window, "comPortConnectButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(consoleMessages(*window).contains(QStringLiteral("Board is now connected.")), 30000);

    window->setFirmwareFilePath(path);
    window->loadFirmwareFile();
    button(*window, "fwFlashFirmwareButton")->click();
    QCOMPARE(button(*window, "fwFlashFirmwareButton")->text(), QStringLiteral("Cancel"));
    QTRY_VERIFY_WITH_TIMEOUT(widget<QProgressBar>(*window, "fwProgressBar")->value() > 0, 30000);

    // The worker is now inside the flash and reports every block through blocking calls into
    // the window: closing must cancel, release those calls and let the thread end.
    window.reset();

    const QStringList debug = log.messages(QtDebugMsg);
    QVERIFY(debug.contains(QStringLiteral("Cancel work")));
    QVERIFY2(debug.contains(QStringLiteral("In Worker Deconstructor")), "the worker thread did not finish");
    const long blocksWritten = sim.snapshot().blockWriteCount;
    QVERIFY(blocksWritten > 0);
    QVERIFY(blocksWritten < applicationBytes / RWTarget::MAX_BLOCK_BYTES);
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

QTEST_MAIN(tst_WindowWithBoard)
#include "tst_windowwithboard.moc"
