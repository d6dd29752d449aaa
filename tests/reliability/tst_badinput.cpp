#include "flash/flashprocedure.h"
#include "fod/fodparser.h"
#include "sim/boardsimulator.h"
#include "sim/imagebuilder.h"
#include "tests/flash/recordingreporter.h"
#include "tests/fod/fodmessagerecorder.h"
// Before the window helpers: it declares the worker's meta-types they register.
#include "tests/worker/workerrig.h"

#include "tests/ui/windowtesthelpers.h"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QSerialPort>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <random>

using namespace windowtest;

namespace {

constexpr int kDescriptionRow = 12;
constexpr int kBoardSerialRow = 7;
constexpr int kSerialField = 68;
constexpr int kCaptureMs = 20000;

const char kGoodLine[] = "1 127700   1055   1903     80   1823   1482";
const char kGoodLine2[] = "1 125000   2450   2210     95   1990   1760";
const char kGoodLine3[] = "1 123000   3300   2540    120   2210   1905";
const QString kNoFit = QStringLiteral("No FOD parameters fit the captured data!\r\n");
const QString kNoParsable = QStringLiteral("No parsable FOD data!");
const QString kGainMissing = QStringLiteral("Gain value is missing from collected data!\r\n");

QByteArray toBytes(const std::vector<uint8_t> &v)
{
    return QByteArray(reinterpret_cast<const char *>(v.data()), int(v.size()));
}

QByteArray imageWith(void (*change)(ImageSpec &))
{
    ImageSpec spec;
    spec.applicationSize = 1000;
    change(spec);
    return toBytes(buildFirmwareImage(spec));
}

// The full-length description and serial number, neither ended by a zero byte.
ImageSpec fullFieldsImage()
{
    ImageSpec spec;
    spec.applicationSize = 1000;
    spec.unterminatedDescription = true;
    spec.serialNumber = std::string(kSerialField, 'S');
    return spec;
}

QStringList captureLines(std::initializer_list<const char *> lines)
{
    QStringList list;
    for (const char *line : lines)
        list << QString::fromLatin1(line);
    return list;
}

// Starts the simulated board and runs the flash procedure on the image with every section selected.
bool flashAllSections(BoardSimulator &sim, const QString &path, RecordingReporter &reporter)
{
    if (!sim.start())
        return false;
    QSerialPort port(QString::fromStdString(sim.slavePath()));
    if (!port.open(QIODevice::ReadWrite))
        return false;
    RWTarget target;
    std::atomic_bool cancel{false};
    flashImage(target, port, reporter, path, cancel, FlashSelection{true, true, true, false});
    return true;
}

} // namespace

// Files and text the tool must survive: broken images through the flash procedure and the window,
// broken captures through the split, the parse, the fit and the worker's capture path.
class TestBadInput : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void badImage_clearResultAndConsoleLine_data();
    void badImage_clearResultAndConsoleLine();
    void fullLengthFieldsWithoutZero_flashAndShowBounded();
    void badCapture_clearMessageOrFit_data();
    void badCapture_clearMessageOrFit();
    void binaryGarbageCapture_neverMoreRowsThanLinesAndClearOutcome();
    void hundredMegabytesOfText_onlyItsDataLinesAreRows();
    void nonFiniteCaptureThroughWorker_failsTheFitAndWritesNothing();

private:
    QTemporaryDir dir;
};

void TestBadInput::initTestCase()
{
    registerWorkerTypes();
    QVERIFY(dir.isValid());
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
}

void TestBadInput::badImage_clearResultAndConsoleLine_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("consoleLine");

    const QByteArray good = imageWith([](ImageSpec &) {});
    QTest::newRow("empty") << QByteArray() << "Incorrect file type!";
    QTest::newRow("magic only") << QByteArray("ZVLO") << "Firmware file is truncated!";
    QTest::newRow("header one byte short") << good.left(255) << "Firmware file is truncated!";
    QTest::newRow("application size past the end")
        << imageWith([](ImageSpec &s) { s.applicationSizeClaim = s.applicationSize + 1; })
        << "Firmware file is truncated!";
    QTest::newRow("settings size past the end")
        << imageWith([](ImageSpec &s) { s.settingsSizeClaim = s.settingsSize + 64; }) << "Firmware file is truncated!";
    QTest::newRow("calibration size past the end")
        << imageWith([](ImageSpec &s) { s.calibrationSizeClaim = s.calibrationSize + 1; })
        << "Firmware file is truncated!";
    QTest::newRow("application size 2^32 - 1")
        << imageWith([](ImageSpec &s) { s.applicationSizeClaim = 0xFFFFFFFF; }) << "Firmware file is truncated!";
    QTest::newRow("every size near 2^32") << imageWith([](ImageSpec &s) {
        s.applicationSizeClaim = 0xFFFFFFF0;
        s.settingsSizeClaim = 0xFFFFFFF0;
        s.calibrationSizeClaim = 0xFFFFFFF0;
    }) << "Firmware file is truncated!";
    // 256 + 1000 + (2^32 - 1000) wraps to 256 in 32 bits: the calibration would start in the header.
    QTest::newRow("sizes whose 32-bit sum wraps")
        << imageWith([](ImageSpec &s) { s.settingsSizeClaim = 0x100000000LL - 1000; }) << "Firmware file is truncated!";
}

void TestBadInput::badImage_clearResultAndConsoleLine()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, consoleLine);

    const QString path = dir.filePath(QStringLiteral("bad.bin"));
    {
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(out.write(file), qint64(file.size()));
    }

    // The flash procedure ends with a clear code and sends nothing to the board.
    BoardSimulator sim;
    RecordingReporter reporter;
    QVERIFY(flashAllSections(sim, path, reporter));
    QCOMPARE(reporter.results, QList<RWTarget::RW_RESPONSE_T>{RWTarget::RW_FILE_OPEN_FAILED});
    QVERIFY(reporter.only(QStringLiteral("status")).contains(QStringLiteral("Bin file is truncated.")));
    QTest::qWait(50);
    QCOMPARE(sim.requestCount(), 0L);

    // The window says what is wrong and offers nothing to flash.
    auto window = makeWindow();
    window->setFirmwareFilePath(path);
    window->loadFirmwareFile();
    QCOMPARE(lastConsoleMessage(*window), consoleLine);
    QVERIFY(!button(*window, "fwTabCBFlashApp")->isEnabled());
}

void TestBadInput::fullLengthFieldsWithoutZero_flashAndShowBounded()
{
    const ImageSpec spec = fullFieldsImage();
    const QString path = dir.filePath(QStringLiteral("full-fields.bin"));
    QVERIFY(writeFirmwareImage(path.toStdString(), spec));

    BoardSimulator sim;
    RecordingReporter reporter;
    QVERIFY(flashAllSections(sim, path, reporter));
    QCOMPARE(reporter.results, QList<RWTarget::RW_RESPONSE_T>{RWTarget::RW_SUCCESS});
    const BoardSnapshot board = sim.snapshot();
    QCOMPARE(toBytes(board.calibration).left(int(spec.calibrationSize)), toBytes(imageCalibrationBytes(spec)));

    auto window = makeWindow();
    window->setFirmwareFilePath(path);
    window->loadFirmwareFile();
    QCOMPARE(lastConsoleMessage(*window), QStringLiteral("FW Version: 2.5"));
    auto *table = widget<QTableWidget>(*window, "fwInfoTable");
    QCOMPARE(table->item(kDescriptionRow, 0)->text().size(), 128);

    // The board's serial number fills its field without a zero byte; the window stops at the field.
    RWTarget::APP_BL_REG_RO_T info{};
    std::copy_n(board.calibration.begin(), RWTarget::CAL_HEADER_SIZE, info.CALIBRATION_RECORD.begin());
    std::copy_n(board.calibration.begin() + RWTarget::CAL_SERIAL_OFFSET, RWTarget::CAL_SERIAL_SIZE,
                info.CALIBRATION_RECORD.begin() + RWTarget::CAL_HEADER_SIZE);
    window->updateBlAppInfo(info);
    QCOMPARE(table->item(kBoardSerialRow, 0)->text(), QString(kSerialField, QLatin1Char('S')));
}

void TestBadInput::badCapture_clearMessageOrFit_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("board");
    QTest::addColumn<bool>("fits");
    QTest::addColumn<QString>("lastOutput");

    const int autoBoard = FOD_BOARD_AUTOMOTIVE;
    QTest::newRow("empty capture") << splitCaptureLines(QString()) << autoBoard << false << kNoParsable;
    QTest::newRow("only line ends") << splitCaptureLines(QStringLiteral("\r\n\r\n\n\r")) << autoBoard << false
                                    << kNoParsable;
    QTest::newRow("nan in x (field 2)") << captureLines({kGoodLine, kGoodLine2, "1 127700 nan 1903 80 1823 1482"})
                                        << autoBoard << false << kNoFit;
    QTest::newRow("inf in the power field (3)")
        << captureLines({kGoodLine, kGoodLine2, "1 127700 1055 inf 80 1823 1482"}) << autoBoard << false << kNoFit;
    QTest::newRow("-inf in the loss field (4)")
        << captureLines({kGoodLine, kGoodLine2, "1 127700 1055 1903 -inf 1823 1482"}) << autoBoard << false << kNoFit;
    QTest::newRow("1e39 in the reference (6)")
        << captureLines({kGoodLine, kGoodLine2, "1 127700 1055 1903 80 1823 1e39"}) << autoBoard << false << kNoFit;
    QTest::newRow("NaN and INF in fields the model does not use")
        << captureLines({kGoodLine, kGoodLine2, "NaN INF 3300 2540 120 -INF 1905"}) << autoBoard << true << QString();
    QTest::newRow("xmc, gain read as nan leaves gain 4 without rows")
        << captureLines({"2 1 1055 1903 80 1 1482", "3 1 1055 1903 80 1 1482", "nan 1 1055 1903 80 1 1482"})
        << int(FOD_BOARD_XMC) << false << kGainMissing;
    QTest::newRow("xmc, 1e39 in gain 3's reference")
        << captureLines({"2 1 1055 1903 80 1 1482", "3 1 1055 1903 80 1 1e39", "4 1 1055 1903 80 1 1482"})
        << int(FOD_BOARD_XMC) << false << kNoFit;
}

void TestBadInput::badCapture_clearMessageOrFit()
{
    QFETCH(QStringList, lines);
    QFETCH(int, board);
    QFETCH(bool, fits);
    QFETCH(QString, lastOutput);

    FodMessageRecorder recorder;
    FodDataTable table;
    FodGainResult result{};
    QCOMPARE(parseFodData(lines, board, table, result, recorder.messages()), fits);
    QVERIFY(!recorder.output.isEmpty());
    if (fits) {
        QVERIFY2(recorder.output.last().startsWith(QStringLiteral("gv: ")), qPrintable(recorder.output.last()));
        QVERIFY(std::isfinite(result.sets[0].gi) && result.sets[0].gi > 0.0f);
    } else {
        QCOMPARE(recorder.output.last(), lastOutput);
    }
}

void TestBadInput::binaryGarbageCapture_neverMoreRowsThanLinesAndClearOutcome()
{
    // Seed 7: 256 KiB of random bytes taken as the worker takes board text, one character per byte;
    // the worker ends a read at a zero byte, so the capture never holds one.
    std::mt19937 random(7u);
    QByteArray garbage(256 * 1024, '\0');
    for (char &c : garbage)
        c = char(1 + random() % 255);
    const QStringList lines = splitCaptureLines(QString::fromLatin1(garbage));
    QVERIFY(lines.size() > 1000);
    for (const QString &line : lines)
        QVERIFY(!line.isEmpty() && !line.contains(QLatin1Char('\r')) && !line.contains(QLatin1Char('\n')));

    for (int board : {int(FOD_BOARD_AUTOMOTIVE), int(FOD_BOARD_XMC)}) {
        FodMessageRecorder recorder;
        FodDataTable table;
        FodGainResult result{};
        const bool fitted = parseFodData(lines, board, table, result, recorder.messages());
        QVERIFY(table.count() <= qMin(lines.size(), FOD_MAX_ROWS));
        QVERIFY(!recorder.output.isEmpty());
        qInfo("board %d: %d lines, %d rows, %s", board, int(lines.size()), table.count(),
              qPrintable(recorder.output.last().trimmed()));
        if (fitted)
            QVERIFY(recorder.output.last().startsWith(board == FOD_BOARD_XMC ? "gain: " : "gv: "));
        else
            QVERIFY2(QStringList({kNoParsable, kNoFit, kGainMissing}).contains(recorder.output.last()),
                     qPrintable(recorder.output.last()));
    }
}

void TestBadInput::hundredMegabytesOfText_onlyItsDataLinesAreRows()
{
    // A capture left running for hours: 100 MB of status lines, then three data lines.
    const QString status =
        QStringLiteral("Coil= 2  L= error   R_total= error   R= error   Q=     0        chi=         0\r\n");
    QString capture;
    constexpr int kBytes = 100 * 1000 * 1000;
    capture.reserve(kBytes + 200);
    while (capture.size() < kBytes)
        capture += status;
    capture += QString::fromLatin1(kGoodLine) + "\r\n" + kGoodLine2 + "\n" + kGoodLine3 + "\r";

    const QStringList lines = splitCaptureLines(capture);
    capture.clear();
    QCOMPARE(lines.size(), (kBytes + status.size() - 1) / status.size() + 3);
    FodMessageRecorder recorder;
    FodDataTable table;
    FodGainResult result{};
    QVERIFY(parseFodData(lines, FOD_BOARD_AUTOMOTIVE, table, result, recorder.messages()));
    QCOMPARE(table.count(), 3);
}

void TestBadInput::nonFiniteCaptureThroughWorker_failsTheFitAndWritesNothing()
{
    SimConfig config;
    config.startMode = BoardMode::Application;
    config.text.linesPerSecond = 100;
    config.text.fodLines = {kGoodLine, "1 127700 1055 nan 80 1823 1482", kGoodLine2, "1 127700 1055 1903 80 1823 1e39"};
    WorkerRig rig(config);
    // On the FOD tab from the start, so that the poll leaves the board in its application.
    rig.worker.tabIndexChanged(2);
    QVERIFY(rig.open());
    rig.worker.fodCaptureControl(true);
    QElapsedTimer clock;
    clock.start();
    auto captured = [&rig] {
        QString text;
        for (const QList<QVariant> &args : rig.fod)
            text += args.at(0).toString();
        return text;
    };
    while (captured().count(QStringLiteral("1e39")) < 2 && clock.elapsed() < kCaptureMs)
        QTest::qWait(20);
    QVERIFY(captured().count(QStringLiteral("nan")) >= 1);
    rig.worker.fodCaptureControl(false);
    const long requestsBefore = rig.sim.requestCount();

    rig.worker.fodCalculateGains(FOD_BOARD_AUTOMOTIVE);
    QCOMPARE(rig.gains.count(), 1);
    QCOMPARE(rig.gains.at(0).at(0).toBool(), false);
    QCOMPARE(rig.fod.last().at(0).toString(), kNoFit);
    // No calibration write was started: nothing asked for a power cycle, nothing reached the board.
    for (const QList<QVariant> &args : rig.fod)
        QVERIFY(!args.at(0).toString().startsWith(QStringLiteral("Power cycle board")));
    QCOMPARE(rig.sim.requestCount(), requestsBefore);
    QCOMPARE(rig.sim.snapshot().mode, BoardMode::Application);
}

QTEST_MAIN(TestBadInput)
#include "tst_badinput.moc"
