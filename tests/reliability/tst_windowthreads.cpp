#include "fod/fodcalwriter.h"
#include "sim/boardsimulator.h"
#include "sim/imagebuilder.h"
// Before the window helpers: it declares the meta-types they register.
#include "worker/serialworker.h"

#include "tests/ui/windowtesthelpers.h"

#ifdef ZAVLO_TSAN_HANDOFF
#include "tests/reliability/tsanqthandoff.h"
#endif

#include <QElapsedTimer>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>

#include <functional>

using namespace windowtest;

namespace {

// Generous waits: these tests also run under ThreadSanitizer, which slows everything down.
constexpr int kStepMs = 60000;
// Hang detector for the window's destructor, which waits at most 5 s for a busy worker.
constexpr int kDestroyBoundMs = 30000;

const QString kConnected = QStringLiteral("Board is now connected.");
const QString kFlashed = QStringLiteral("Successfully flashed device.");
const QString kCancelled = QStringLiteral("Flash process cancelled by user!");
const QString kPortLost = QStringLiteral("COM port lost! Check the connection and connect again.");

ImageSpec smallImage()
{
    ImageSpec spec;
    spec.applicationSize = 2048;
    return spec;
}

// Under 115200 baud pacing this takes many seconds: long enough to act in the middle of it.
ImageSpec bigImage()
{
    ImageSpec spec;
    spec.applicationSize = 96 * 1024;
    spec.applicationSeed = 5;
    return spec;
}

QByteArray head(const std::vector<uint8_t> &bytes, size_t count)
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), int(qMin(count, bytes.size())));
}

bool holdsApplication(const BoardSimulator &sim, const ImageSpec &spec)
{
    const std::vector<uint8_t> expected = imageApplicationBytes(spec);
    return head(sim.snapshot().application, spec.applicationSize) == head(expected, expected.size());
}

// A board that answers at the pace of the 115200-baud line, so that a flash takes long enough.
FaultConfig pacedLine()
{
    FaultConfig faults;
    faults.pace115200 = true;
    return faults;
}

SimConfig linked(const QString &link, const FaultConfig &faults = FaultConfig())
{
    SimConfig config;
    config.linkPath = link.toStdString();
    config.faults = faults;
    return config;
}

// The real window with its worker thread, its port list offering only the simulated board.
std::unique_ptr<MainWindow> windowOn(const QString &link)
{
    MainWindow::setComPortEnumerator([link] { return QList<MainWindow::ComPortEntry>{port(link)}; });
    return std::make_unique<MainWindow>();
}

int countOf(const MainWindow &window, const QString &message)
{
    return consoleMessages(window).count(message);
}

using Moment = std::function<void(MainWindow &, BoardSimulator &)>;

QString fodText(const MainWindow &window)
{
    return widget<QTextBrowser>(window, "fodCapture")->toPlainText();
}

// A board in its application printing noise-free Automotive FOD lines quickly, for a short capture.
SimConfig printingBoard(const QString &link)
{
    SimConfig config = linked(link);
    config.startMode = BoardMode::Application;
    config.text.generateFod = true;
    config.text.linesPerSecond = 200;
    config.text.fod.board = SimFodBoard::Automotive;
    config.text.fod.params[0] = SimFodParams{1.0, 0.95, 0.25, 0.05, 1.02, 1.05};
    return config;
}

const QString kPowerCycle = QStringLiteral("Power cycle board within the next 10 seconds...");

} // namespace

Q_DECLARE_METATYPE(Moment)

// The window and its worker thread together against the simulated board: requests and answers
// cross the threads through a detection and a flash, the cancel flag is set from the GUI thread,
// a lost port comes back to the window, and the window may go at any moment.
class TestWindowThreads : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void detectionAndFlash_crossTheThreads();
    void cancelFromTheGuiThread_stopsTheFlashAndTheNextOneSucceeds();
    void portLostDuringAFlash_windowClosesThePortAndReconnects();
    void destroyingTheWindow_atAnyMoment_endsTheWorker_data();
    void destroyingTheWindow_atAnyMoment_endsTheWorker();
    void closingDuringACalibrationWrite_neverLeavesTheAreaHalfWritten_data();
    void closingDuringACalibrationWrite_neverLeavesTheAreaHalfWritten();

private:
    bool connectAndDetect(MainWindow &window);
    // Closes the port as the user would before the window goes, so that the worker is idle then.
    bool disconnect(MainWindow &window);
    QString imagePath(const char *name, const ImageSpec &spec);
    // Starts a flash of the big image and returns once its progress shows.
    bool flashUnderWay(MainWindow &window, const char *imageName);

    QTemporaryDir dir;
};

void TestWindowThreads::initTestCase()
{
    prepareWindowTests();
    QVERIFY(dir.isValid());
}

QString TestWindowThreads::imagePath(const char *name, const ImageSpec &spec)
{
    const QString path = dir.filePath(QString::fromLatin1(name));
    if (!writeFirmwareImage(path.toStdString(), spec))
        return QString();
    return path;
}

bool TestWindowThreads::connectAndDetect(MainWindow &window)
{
    const int before = countOf(window, kConnected);
    button(window, "comPortConnectButton")->click();
    QElapsedTimer clock;
    clock.start();
    while (countOf(window, kConnected) == before && clock.elapsed() < kStepMs)
        QTest::qWait(20);
    return countOf(window, kConnected) > before;
}

bool TestWindowThreads::disconnect(MainWindow &window)
{
    const QString closed = QStringLiteral("Successfully closed COM port.");
    const int before = countOf(window, closed);
    button(window, "comPortConnectButton")->click();
    QElapsedTimer clock;
    clock.start();
    while (countOf(window, closed) == before && clock.elapsed() < kStepMs)
        QTest::qWait(20);
    return countOf(window, closed) > before;
}

bool TestWindowThreads::flashUnderWay(MainWindow &window, const char *imageName)
{
    window.setFirmwareFilePath(imagePath(imageName, bigImage()));
    window.loadFirmwareFile();
    button(window, "fwFlashFirmwareButton")->click();
    return QTest::qWaitFor([&window] { return widget<QProgressBar>(window, "fwProgressBar")->value() > 0; }, kStepMs);
}

void TestWindowThreads::detectionAndFlash_crossTheThreads()
{
    const QString link = dir.filePath(QStringLiteral("port-flash"));
    BoardSimulator sim(linked(link));
    QVERIFY(sim.start());
    auto window = windowOn(link);
    QVERIFY(connectAndDetect(*window));
    QCOMPARE(button(*window, "comPortConnectButton")->text(), QStringLiteral("Disconnect"));

    window->setFirmwareFilePath(imagePath("small.bin", smallImage()));
    window->loadFirmwareFile();
    button(*window, "fwFlashFirmwareButton")->click();
    QCOMPARE(button(*window, "fwFlashFirmwareButton")->text(), QStringLiteral("Cancel"));
    QTRY_COMPARE_WITH_TIMEOUT(countOf(*window, kFlashed), 1, kStepMs);
    QCOMPARE(button(*window, "fwFlashFirmwareButton")->text(), QStringLiteral("Flash Firmware"));
    QCOMPARE(widget<QProgressBar>(*window, "fwProgressBar")->value(), 100);
    QVERIFY(consoleMessages(*window).contains(QStringLiteral("   2048 bytes flashed.")));
    QVERIFY(holdsApplication(sim, smallImage()));
    QVERIFY(disconnect(*window));
}

void TestWindowThreads::cancelFromTheGuiThread_stopsTheFlashAndTheNextOneSucceeds()
{
    const QString link = dir.filePath(QStringLiteral("port-cancel"));
    BoardSimulator sim(linked(link, pacedLine()));
    QVERIFY(sim.start());
    auto window = windowOn(link);
    QVERIFY(connectAndDetect(*window));

    QVERIFY(flashUnderWay(*window, "big.bin"));
    button(*window, "fwFlashFirmwareButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(countOf(*window, kCancelled), 1, kStepMs);
    QCOMPARE(countOf(*window, kFlashed), 0);
    QCOMPARE(widget<QProgressBar>(*window, "fwProgressBar")->value(), 0);
    QVERIFY(sim.snapshot().blockWriteCount < long(bigImage().applicationSize / 64));

    // The flag was used up by that flash: the next one runs to the end.
    sim.setFaults(FaultConfig());
    QCOMPARE(button(*window, "fwFlashFirmwareButton")->text(), QStringLiteral("Flash Firmware"));
    button(*window, "fwFlashFirmwareButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(countOf(*window, kFlashed), 1, kStepMs);
    QCOMPARE(countOf(*window, kCancelled), 1);
    QVERIFY(holdsApplication(sim, bigImage()));
    QVERIFY(disconnect(*window));
}

void TestWindowThreads::portLostDuringAFlash_windowClosesThePortAndReconnects()
{
    const QString link = dir.filePath(QStringLiteral("port-lost"));
    BoardSimulator sim(linked(link, pacedLine()));
    QVERIFY(sim.start());
    auto window = windowOn(link);
    QVERIFY(connectAndDetect(*window));

    QVERIFY(flashUnderWay(*window, "lost.bin"));
    sim.stop(); // the adapter is pulled

    // The flash ends with its failing step's code, then the window is back in its closed state.
    QTRY_VERIFY_WITH_TIMEOUT(consoleMessages(*window).contains(kPortLost), kStepMs);
    QTRY_COMPARE_WITH_TIMEOUT(button(*window, "comPortConnectButton")->text(), QStringLiteral("Connect"), kStepMs);
    const QStringList messages = consoleMessages(*window);
    QVERIFY2(messages.contains(QStringLiteral("Write timeout occurred! Try again?")) ||
                 messages.contains(QStringLiteral("Read timeout occurred! Try again?")),
             qPrintable(messages.join('\n')));
    QVERIFY(messages.indexOf(kPortLost) < messages.lastIndexOf(QStringLiteral("Successfully closed COM port.")));
    QCOMPARE(button(*window, "fwFlashFirmwareButton")->text(), QStringLiteral("Flash Firmware"));

    // Plugged in again under the same name: connect, detect and flash as before.
    sim.setFaults(FaultConfig());
    QVERIFY(sim.start());
    QVERIFY(connectAndDetect(*window));
    button(*window, "fwFlashFirmwareButton")->click();
    QTRY_COMPARE_WITH_TIMEOUT(countOf(*window, kFlashed), 1, kStepMs);
    QVERIFY(holdsApplication(sim, bigImage()));
    QVERIFY(disconnect(*window));
}

void TestWindowThreads::destroyingTheWindow_atAnyMoment_endsTheWorker_data()
{
    QTest::addColumn<Moment>("moment");
    QTest::newRow("port just opened, detection starting") << Moment([](MainWindow &window, BoardSimulator &) {
        button(window, "comPortConnectButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(consoleMessages(window).contains(QStringLiteral("Successfully opened COM port.")),
                                 kStepMs);
    });
    QTest::newRow("flash requested, not yet started") << Moment([](MainWindow &window, BoardSimulator &) {
        button(window, "comPortConnectButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(consoleMessages(window).contains(kConnected), kStepMs);
        button(window, "fwFlashFirmwareButton")->click();
    });
    QTest::newRow("flash under way") << Moment([](MainWindow &window, BoardSimulator &sim) {
        button(window, "comPortConnectButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(consoleMessages(window).contains(kConnected), kStepMs);
        button(window, "fwFlashFirmwareButton")->click();
        QTRY_VERIFY_WITH_TIMEOUT(sim.snapshot().blockWriteCount > 3, kStepMs);
    });
}

void TestWindowThreads::destroyingTheWindow_atAnyMoment_endsTheWorker()
{
    QFETCH(Moment, moment);
    const QString link = dir.filePath(QStringLiteral("port-destroy"));
    BoardSimulator sim(linked(link, pacedLine()));
    QVERIFY(sim.start());

    MessageLog log;
    auto window = windowOn(link);
    window->setFirmwareFilePath(imagePath("destroy.bin", bigImage()));
    window->loadFirmwareFile();
    moment(*window, sim);

    QElapsedTimer clock;
    clock.start();
    window.reset();
    QVERIFY2(clock.elapsed() < kDestroyBoundMs, qPrintable(QStringLiteral("%1 ms").arg(clock.elapsed())));

    // The worker finishes on its own thread and stops talking to the board.
    QTRY_VERIFY_WITH_TIMEOUT(log.messages(QtDebugMsg).contains(QStringLiteral("In Worker Deconstructor")), kStepMs);
    const long requests = sim.requestCount();
    QTest::qWait(300);
    QCOMPARE(sim.requestCount(), requests);
    QVERIFY(sim.snapshot().blockWriteCount < long(bigImage().applicationSize / 64));
}

void TestWindowThreads::closingDuringACalibrationWrite_neverLeavesTheAreaHalfWritten_data()
{
    QTest::addColumn<QString>("moment");
    QTest::addColumn<bool>("written");
    QTest::newRow("during the fit: cancelled, nothing sent") << "fit" << false;
    QTest::newRow("during the bootloader catch: cancelled, nothing written") << "catch" << false;
    QTest::newRow("during the block writes: finished, board back in its application") << "writes" << true;
}

void TestWindowThreads::closingDuringACalibrationWrite_neverLeavesTheAreaHalfWritten()
{
    QFETCH(QString, moment);
    QFETCH(bool, written);

    const QString link = dir.filePath(QStringLiteral("port-calibration"));
    SimConfig config = printingBoard(link);
    if (written) {
        // The user's power cycle comes at once; every answer is slowed so the window closes
        // inside the block writes.
        config.pingsToPowerCycle = 10;
        config.faults.turnaroundUs = 100000;
    }
    BoardSimulator sim(config);
    QVERIFY(sim.start());
    const std::vector<uint8_t> before = sim.snapshot().calibration;

    auto window = windowOn(link);
    tabs(*window)->setCurrentIndex(kFodTab);
    button(*window, "comPortConnectButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(button(*window, "fodControlButton")->isEnabled(), kStepMs);
    button(*window, "fodControlButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(fodText(*window).count('\n') >= 40, kStepMs);
    button(*window, "fodControlButton")->click();
    sim.clearRequestLog();
    button(*window, "fodCalculateGains")->click();

    if (moment == "catch")
        QTRY_VERIFY_WITH_TIMEOUT(fodText(*window).contains(kPowerCycle), kStepMs);
    else if (moment == "writes")
        QTRY_VERIFY_WITH_TIMEOUT(sim.snapshot().blockWriteCount > 0, kStepMs);
    const long blocksAtClose = sim.snapshot().blockWriteCount;
    QTimer::singleShot(0, window.get(), [&window] { QVERIFY(!window->close()); });
    QTimer::singleShot(kStepMs, window.get(), [] { QCoreApplication::exit(-99); });
    QCOMPARE(QCoreApplication::exec(), 0);

    const QString text = fodText(*window);
    const std::vector<RequestRecord> requests = sim.requestLog();
    const std::vector<uint8_t> area = sim.snapshot().calibration;
    if (!written) {
        QVERIFY2(text.contains(QStringLiteral("Calibration write cancelled before anything was written.")),
                 qPrintable(text));
        // Cut short: a catch left to run would have ended with this after 10 s.
        QVERIFY(!text.contains(QStringLiteral("No response after trying to put into BL mode.")));
        for (const RequestRecord &r : requests)
            QVERIFY2(r.command == SimCmd::READ_REGISTER && r.address == SimReg::BOOT_STATUS, r.text().c_str());
        QVERIFY(area == before);
        return;
    }

    const int areaBytes = fodCalDataSize(config.pageSize);
    QVERIFY2(blocksAtClose < areaBytes / 64, "the close came after the block writes");
    QVERIFY2(text.contains(QStringLiteral("Calibration write completed.")), qPrintable(text));
    // The area is entirely what the write sent, block after block, each one taken.
    std::vector<uint8_t> sent;
    for (const RequestRecord &r : requests) {
        if (r.command != SimCmd::WRITE_CALIBRATION)
            continue;
        QVERIFY(r.answered && r.status == 0 && r.address == sent.size());
        sent.insert(sent.end(), r.payload.begin(), r.payload.end());
    }
    QCOMPARE(int(sent.size()), areaBytes);
    QVERIFY(std::equal(sent.begin(), sent.end(), area.begin()));
    QVERIFY(!std::equal(sent.begin(), sent.end(), before.begin()));
    QCOMPARE(sim.snapshot().mode, BoardMode::Application);
}

#ifdef ZAVLO_TSAN_HANDOFF
using TestApplication = HandoffApplication;
#else
using TestApplication = QApplication;
#endif

int main(int argc, char *argv[])
{
    TestApplication application(argc, argv);
    application.setAttribute(Qt::AA_Use96Dpi, true);
    TestWindowThreads test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_windowthreads.moc"
